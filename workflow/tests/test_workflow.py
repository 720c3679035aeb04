"""Runs the workflow on the ray-cast test sequence and checks its tracks
against the true cameras, its resumption and its incremental rerun.

Needs the environment variables QOR_BIN (the folder of ostrel, vandrel,
pelmix and make_examples); skipped when snakemake or OpenCV is missing.
"""
import os
import re
import shutil
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(TOP, "tools"))

cv2 = pytest.importorskip("cv2", reason="OpenCV for Python (python3-opencv) is not installed")
import ground_truth  # noqa: E402

SNAKEMAKE = shutil.which("snakemake")
BIN = os.environ.get("QOR_BIN", os.path.join(TOP, "build", "bin"))
pytestmark = pytest.mark.skipif(SNAKEMAKE is None, reason="snakemake is not installed (Debian package snakemake)")


def snakemake(frames, out, *extra, config=()):
    command = [SNAKEMAKE, "-s", os.path.join(TOP, "workflow", "Snakefile"), "--cores", "2", "--config",
               "frames=" + frames, "out=" + out, "bin=" + BIN, "ostrel_opts=-d 2"] + list(config) + list(extra)
    return subprocess.run(command, cwd=out if os.path.isdir(out) else None, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)


def job_counts(text):
    """{rule: count} from the job statistics that snakemake prints."""
    stats = text.split("Job stats:")[1] if "Job stats:" in text else ""
    return {m.group(1): int(m.group(2)) for m in re.finditer(r"^(\w+)\s+(\d+)\s+\d+\s+\d+$", stats, re.M)
            if m.group(1) != "total"}


@pytest.fixture(scope="module")
def sequence(tmp_path_factory):
    root = tmp_path_factory.mktemp("workflow")
    frames = str(root / "frames")
    r = subprocess.run([os.path.join(BIN, "make_examples"), "--frames", frames], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    return root, frames


def test_tracks_resume_and_new_frame(sequence):
    root, frames = sequence
    out = str(root / "out")
    # An interrupted run: it stops after the matching, before any ostrel job.
    r = snakemake(frames, out, "--until", "match")
    assert r.returncode == 0, r.stderr[-3000:]
    assert not os.path.exists(os.path.join(out, "tracks.txt"))
    # The resumed run does only what is left: ten ostrel jobs and the chaining.
    r = snakemake(frames, out)
    assert r.returncode == 0, r.stderr[-3000:]
    counts = job_counts(r.stdout + r.stderr)
    assert counts.get("features", 0) == 0 and counts.get("match", 0) == 0, counts
    assert counts["ostrel"] == 10 and counts["tracks"] == 1, counts
    for a in range(1, 11):
        assert os.path.getsize(os.path.join(out, "logs", "ostrel", "%d.log" % a)) > 0
        assert os.path.exists(os.path.join(out, "chain", "frame%d.jpg-frame%d.jpg-frame%d.jpg.TM.matches"
                                           % (a, a + 1, a + 2)))

    # Tracks of 4 or more frames against the true scene.
    matrices = ground_truth.read_cameras(os.path.join(frames, "cameras.txt"))
    cameras = {k + 1: p for k, p in enumerate(matrices)}
    errors = ground_truth.track_errors(cameras, ground_truth.read_tracks(os.path.join(out, "tracks.txt")), 4)
    good = int((errors < 2.0).sum())
    print("%d of %d tracks of length >= 4 within 2 px" % (good, len(errors)))
    assert len(errors) >= 100
    assert good >= 0.9 * len(errors)

    # The support table names every triple with its counts.
    with open(os.path.join(out, "support.tsv")) as f:
        rows = [line.split("\t") for line in f.read().splitlines()[1:]]
    assert [row[0] for row in rows] == [str(a) for a in range(1, 11)]
    assert all(0 < int(row[2]) <= int(row[1]) for row in rows)

    # Nothing to do on a rerun; a new frame makes one new triple.
    r = snakemake(frames, out, "--dry-run")
    assert r.returncode == 0 and "Nothing to be done" in r.stdout + r.stderr
    shutil.copy(os.path.join(frames, "frame12.jpg"), os.path.join(frames, "frame13.jpg"))
    r = snakemake(frames, out, "--dry-run")
    assert r.returncode == 0, r.stderr[-3000:]
    counts = job_counts(r.stdout + r.stderr)
    assert (counts["features"], counts["match"], counts["ostrel"], counts["tracks"]) == (1, 1, 1, 1), counts


def test_frame_folder_errors(tmp_path):
    frames = tmp_path / "frames"
    frames.mkdir()
    for name in ("a1.png", "a2.png", "b1.jpg"):
        (frames / name).write_bytes(b"")
    r = snakemake(str(frames), str(tmp_path / "out"), "--dry-run")
    assert r.returncode != 0 and "give prefix= and ext=" in r.stdout + r.stderr
    (frames / "a4.png").write_bytes(b"")
    r = snakemake(str(frames), str(tmp_path / "out"), "--dry-run", config=["prefix=a", "ext=png"])
    assert r.returncode != 0 and "frames missing from the sequence" in r.stdout + r.stderr
    assert "[3]" in r.stdout + r.stderr
