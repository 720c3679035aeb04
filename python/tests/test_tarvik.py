"""The Python module against the programs: same records, same decisions, same
bytes; every failure an exception."""
import gc
import os
import shutil
import threading
import time

import numpy as np
import pytest

import tarvik
from conftest import run_program


def scene_copy(examples, tmp_path, name="triplets.txt"):
    shutil.copy(examples / "scene" / name, tmp_path / name)
    return tmp_path / name


def random_triplets(rng, n, outliers=0.3):
    """Triplets of random 3-D points seen by three cameras, with noise and outliers."""
    pts = np.c_[rng.uniform(-1, 1, (n, 2)), rng.uniform(4, 6, n), np.ones(n)]
    cams = []
    for shift, turn in ((-0.3, -0.05), (0.0, 0.0), (0.3, 0.05)):
        c, s = np.cos(turn), np.sin(turn)
        rt = np.array([[c, 0, s, shift], [0, 1, 0, 0.1 * shift], [-s, 0, c, 0]])
        cams.append(np.diag([500.0, 500.0, 1.0]) @ rt)
    cols = []
    for P in cams:
        x = pts @ P.T
        cols.append(x[:, :2] / x[:, 2:3] + np.array([320.0, 240.0]))
    m = np.hstack(cols) + rng.normal(0, 0.3, (n, 6))
    bad = rng.random(n) < outliers
    m[bad] = rng.uniform(0, 640, (bad.sum(), 6))
    return m


def test_read_matches_gives_the_records_of_the_file(examples, tmp_path):
    m = tarvik.read_matches(str(examples / "scene" / "triplets.txt"))
    assert m.shape == (300, 6) and m.dtype == np.float64
    first = (examples / "scene" / "triplets.txt").read_text().splitlines()[0].split()
    assert np.array_equal(m[0], np.array(first, dtype=float))
    p = tarvik.read_matches(str(examples / "scene" / "pairs.txt"))
    assert p.shape == (260, 4)
    # A short line keeps the values of the line before; a blank line is a record.
    (tmp_path / "short.txt").write_text("1 2 3 4 5 6\n7 8\n\n")
    s = tarvik.read_matches(str(tmp_path / "short.txt"))
    assert s.shape == (3, 6)
    assert list(s[1]) == [7, 8, -1, -1, 5, 6]   # a pair record: no middle
    tarvik.write_matches(str(tmp_path / "out.txt"), m[:5])
    assert np.allclose(tarvik.read_matches(str(tmp_path / "out.txt")), m[:5], atol=5e-7)


@pytest.mark.parametrize("args,kw", [
    (["-n", "100"], dict(samples=100)),
    (["-n", "200", "-d", "2", "-l"], dict(samples=200, distance=2.0, scoring="l2")),
    (["-n", "150", "-a", "-m"], dict(samples=150, affine=True, refit=False)),
    (["-n", "400", "-s", "0.99"], dict(samples=400, stop_early=0.99)),
])
def test_estimate_tensor_is_ostrel(examples, tmp_path, args, kw):
    f = scene_copy(examples, tmp_path)
    status, out, _ = run_program("ostrel", ["-f", f.name] + args, tmp_path)
    assert status == 0
    r = tarvik.estimate_tensor(tarvik.read_matches(str(f)), **kw)
    # The same tensor file, byte for byte, and the same support file.
    tarvik.write_tensor(str(tmp_path / "py"), r.tensor)
    assert (tmp_path / "py.TM").read_bytes() == (tmp_path / (f.name + ".TM")).read_bytes()
    tarvik.write_matches(str(tmp_path / "support.txt"), tarvik.read_matches(str(f))[r.inliers])
    assert (tmp_path / "support.txt").read_bytes() == \
        (tmp_path / (f.name + ".TM.matches")).read_bytes()
    assert out.count(b"NEW T") == len(r.new_best)
    assert f"Average distance = {r.mean_error:f} pixels".encode() in out
    # Twenty decimals hold the entries to far better than single precision.
    assert np.allclose(tarvik.read_tensor(str(tmp_path / "py")), r.tensor, rtol=1e-9, atol=1e-20)


def test_estimate_on_random_scenes_repeats_and_transfers(tmp_path):
    rng = np.random.default_rng(7)
    m = random_triplets(rng, 400)
    # 400 matches x 151 samples is enough work for the estimator to use threads.
    a = tarvik.estimate_tensor(m, samples=150)
    for threads in (1, 2, 3):
        b = tarvik.estimate_tensor(m, samples=150, threads=threads)
        assert np.array_equal(a.tensor, b.tensor) and np.array_equal(a.inliers, b.inliers)
        assert b.new_best == a.new_best
    d = tarvik.transfer_distances(a.tensor, m)
    assert d.shape == (400, 3)
    # The support flags are exactly the triplets with all three distances below -d.
    assert np.array_equal((d < 1.0).all(axis=1), a.inliers)
    np.savetxt(tmp_path / "r.txt", m, fmt="%.6f")
    status, _, _ = run_program("ostrel", ["-f", "r.txt", "-n", "60"], tmp_path)
    assert status == 0
    flags = tarvik.estimate_tensor(tarvik.read_matches(str(tmp_path / "r.txt")), samples=60)
    tarvik.write_tensor(str(tmp_path / "q"), flags.tensor)
    assert (tmp_path / "q.TM").read_bytes() == (tmp_path / "r.txt.TM").read_bytes()


def test_bad_input_raises(tmp_path):
    with pytest.raises(FileNotFoundError):
        tarvik.read_matches(str(tmp_path / "missing.txt"))
    with pytest.raises(FileNotFoundError):
        tarvik.read_tensor(str(tmp_path / "missing"))
    with pytest.raises(FileNotFoundError):
        tarvik.read_image(str(tmp_path / "missing.jpg"))
    with pytest.raises(OSError):
        tarvik.write_tensor(str(tmp_path / "no" / "such"), np.zeros(27))
    with pytest.raises(ValueError):
        tarvik.estimate_tensor(np.zeros((10, 5)))
    with pytest.raises(ValueError):
        tarvik.estimate_tensor(np.zeros((3, 6)))          # fewer than a sample
    with pytest.raises(ValueError):
        tarvik.estimate_tensor(np.zeros((30, 6)), scoring="median")
    with pytest.raises(ValueError):
        tarvik.transfer_distances(np.full(27, np.nan), np.zeros((2, 6)))
    with pytest.raises(ValueError):
        tarvik.write_tensor(str(tmp_path / "t"), np.zeros(26))
    (tmp_path / "bad.TM").write_text("1 2 3\n")
    with pytest.raises(ValueError, match="only 3 of the 27"):
        tarvik.read_tensor(str(tmp_path / "bad"))
    (tmp_path / "junk.jpg").write_bytes(b"not a jpeg at all")
    with pytest.raises(ValueError):
        tarvik.read_image(str(tmp_path / "junk.jpg"))
    with pytest.raises(ValueError):
        tarvik.write_image(str(tmp_path / "x.png"), np.zeros((4, 4, 2), np.uint8))


def test_images_round_trip(examples, tmp_path):
    im = tarvik.read_image(str(examples / "scene" / "view1.jpg"))
    assert im.dtype == np.uint8 and im.ndim in (2, 3)
    for ext in ("png", "ppm", "bmp"):
        path = str(tmp_path / ("c." + ext))
        tarvik.write_image(path, im)
        assert np.array_equal(tarvik.read_image(path), im)
    gray = (np.arange(12 * 7) % 256).astype(np.uint8).reshape(7, 12)
    tarvik.write_image(str(tmp_path / "g.pgm"), gray)
    assert np.array_equal(tarvik.read_image(str(tmp_path / "g.pgm")), gray)
    tarvik.write_image(str(tmp_path / "g.jpg"), gray, quality=95)
    assert np.abs(tarvik.read_image(str(tmp_path / "g.jpg")).astype(int) - gray).max() < 40


def test_gil_is_released():
    rng = np.random.default_rng(3)
    m = random_triplets(rng, 3000, outliers=0.5)
    kw = dict(samples=150, threads=1)
    # While an estimation runs on another thread, this thread keeps running
    # Python code: it could not if the estimation held the GIL.
    worker = threading.Thread(target=tarvik.estimate_tensor, args=(m,), kwargs=kw)
    worker.start()
    steps = 0
    while worker.is_alive():
        steps += 1
    worker.join()
    assert steps > 1000
    # With a second core free, two estimations on two threads take clearly
    # less than twice one (a loaded machine cannot show it).
    if (os.cpu_count() or 1) >= 2 and os.getloadavg()[0] < 0.5:
        start = time.perf_counter()
        tarvik.estimate_tensor(m, **kw)
        one = time.perf_counter() - start
        threads = [threading.Thread(target=tarvik.estimate_tensor, args=(m,), kwargs=kw)
                   for _ in range(2)]
        start = time.perf_counter()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert time.perf_counter() - start < 1.7 * one


def test_no_leak_over_many_calls():
    rng = np.random.default_rng(5)
    m = random_triplets(rng, 200)

    def rss_kb():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024

    for _ in range(20):
        tarvik.estimate_tensor(m, samples=10)
    gc.collect()
    before = rss_kb()
    for _ in range(400):
        tarvik.estimate_tensor(m, samples=10)
        tarvik.transfer_distances(np.ones(27), m)
    gc.collect()
    assert rss_kb() - before < 4096


@pytest.mark.parametrize("name,scale", [("pairs.txt", 3.5), ("pairs.txt", 2.0), ("triplets.txt", 3.5)])
def test_filter_matches_is_pelmix(examples, tmp_path, name, scale):
    f = scene_copy(examples, tmp_path, name)
    status, out, _ = run_program("pelmix", ["-f", f.name, "-m", str(scale)], tmp_path)
    assert status == 0
    m = tarvik.read_matches(str(f))
    r = tarvik.filter_matches(m, median_scale=scale)
    for threads in (1, 2, 3):
        t = tarvik.filter_matches(m, median_scale=scale, threads=threads)
        assert np.array_equal(t.scores, r.scores, equal_nan=True) and t.median == r.median
    tarvik.write_matches(str(tmp_path / "kept.txt"), m[r.keep])
    assert (tmp_path / "kept.txt").read_bytes() == (tmp_path / (f.name + ".filtered")).read_bytes()
    assert out.count(b"Disparity gradient iteration") == r.passes
    assert (r.scores[~r.keep] >= r.median * scale).all()


def test_chain_tracks_is_vandrel(examples, tmp_path):
    seq = examples / "sequence"
    for f in seq.glob("*.txt"):
        shutil.copy(f, tmp_path / f.name)
    status, _, _ = run_program("vandrel", ["-p", "img", "-o", ".txt", "-s", "1", "-e", "6",
                                           "-f", "tracks.txt", "-b"], tmp_path)
    assert status == 0
    arrays = [tarvik.read_matches(str(seq / f"img{a}.jpg-img{a + 1}.jpg-img{a + 2}.jpg.txt"))
              for a in range(1, 5)]
    tracks = tarvik.chain_tracks(arrays, raw=True)
    lines = (tmp_path / "tracks.txt").read_bytes().split(b"\r\n")
    # One mp line per point of every track.
    assert sum(1 for line in lines if line.startswith(b"mp")) == sum(len(t) for t in tracks)
    assert all(len(t) >= 4 for t in tracks)
    assert all(t[k + 1][0] == t[k][0] + 1 for t in tracks for k in range(len(t) - 1))
    with pytest.raises(ValueError):
        tarvik.chain_tracks([np.zeros((3, 4))])


def refinement_lines(out):
    """The lines of ostrel's robust and refinement blocks."""
    text = out.decode()
    return text[text.find("=== Robust"):] if "=== Robust" in text else \
        text[text.find("=== Geometric"):]


def check_against_ostrel(f, tmp_path, args, kw):
    status, out, _ = run_program("ostrel", ["-f", f.name] + args, f.parent)
    assert status == 0
    m = tarvik.read_matches(str(f))
    r = tarvik.estimate_tensor(m, **kw)
    tarvik.write_tensor(str(tmp_path / "py"), r.tensor)
    assert (tmp_path / "py.TM").read_bytes() == (f.parent / (f.name + ".TM")).read_bytes()
    tarvik.write_matches(str(tmp_path / "support.txt"), m[r.inliers])
    assert (tmp_path / "support.txt").read_bytes() == \
        (f.parent / (f.name + ".TM.matches")).read_bytes()
    block = refinement_lines(out)
    if r.robust is not None:
        assert f"Samples {r.robust.samples} hypotheses {r.robust.hypotheses} local optimisations " \
               f"{r.robust.local_optimisations}\n" in block
        assert (f"Inliers {r.robust.inliers} of {len(m)}" in block) == r.robust.found
    assert ("Kept the faithful result: " + r.refine_reason + "\n" in block) == (not r.refined)
    if r.refined:
        assert f"Rounds {r.rounds}\nSupporting triplets {r.inliers.sum()} of {len(m)}\n" in block
        assert f"RMS reprojection error = {r.reprojection_rms:f} pixels" in block
        assert f"Maximum reprojection error = {r.reprojection_max:f} pixels" in block
    return m, r


@pytest.mark.parametrize("args,kw", [
    (["-g"], dict(refine=True)),
    (["-r"], dict(robust=True)),
    (["-a", "-g"], dict(affine=True, refine=True)),
    (["-r", "-a", "-s", "0.9", "-n", "300"], dict(robust=True, affine=True, stop_early=0.9, samples=300)),
])
def test_refine_and_robust_are_ostrel_g_and_r(examples, tmp_path, args, kw):
    m, r = check_against_ostrel(scene_copy(examples, tmp_path), tmp_path, args, kw)
    assert r.refined is not None and (r.robust is not None) == ("-r" in args)
    if not r.refined:  # the bundled scene with -a -g: views related by homographies
        assert r.cameras is None and r.points is None and r.refine_reason
        return
    n = len(m)
    assert r.cameras.shape == (3, 3, 4) and r.cameras.dtype == np.float64
    assert r.points.shape == (n, 3) and r.reprojection_errors.shape == (n, 3)
    assert r.points.dtype == np.float64 and r.reprojection_errors.dtype == np.float64
    # Every supporting triplet's point projects by the cameras to its three
    # observations within the reported errors, all below the distance.
    x = np.c_[r.points, np.ones(n)]
    ok = np.isfinite(r.points).all(axis=1)
    assert ok[r.inliers].all()
    for v in range(3):
        p = x[ok] @ r.cameras[v].T
        seen = np.hypot(*(p[:, :2] / p[:, 2:3] - m[ok][:, 2 * v:2 * v + 2]).T)
        assert np.allclose(seen, r.reprojection_errors[ok, v], rtol=1e-6, atol=1e-6)
    assert np.array_equal((r.reprojection_errors < 1.0).all(axis=1), r.inliers)
    assert np.isclose(r.reprojection_max, r.reprojection_errors[r.inliers].max())


def test_refine_and_robust_on_a_generated_scene(tmp_path):
    status, _, _ = run_program("make_examples", ["--eval", tmp_path / "e", 500, 200], tmp_path)
    assert status == 0
    f = tmp_path / "e" / "triplets.txt"
    results = {}
    for args, kw in ((["-g"], dict(refine=True)), (["-r"], dict(robust=True))):
        _, results[args[0]] = check_against_ostrel(f, tmp_path, args, kw)
        assert results[args[0]].refined and not results[args[0]].fell_back
    # The same numbers for every thread count of the faithful estimation.
    g = results["-g"]
    one = tarvik.estimate_tensor(tarvik.read_matches(str(f)), refine=True, threads=1)
    assert np.array_equal(one.tensor, g.tensor) and np.array_equal(one.cameras, g.cameras)
    assert np.array_equal(one.points, g.points, equal_nan=True)


def test_refine_keeps_the_faithful_result_when_degenerate(tmp_path):
    rng = np.random.default_rng(11)
    m = rng.uniform(0, 640, (40, 6))            # no geometry: too few support any tensor
    plain = tarvik.estimate_tensor(m)
    assert plain.refined is None and plain.robust is None and plain.cameras is None
    g = tarvik.estimate_tensor(m, refine=True)
    assert g.refined is False and g.refine_reason == "fewer than seven supporting triplets"
    assert np.array_equal(g.tensor, plain.tensor) and np.array_equal(g.inliers, plain.inliers)
    assert g.cameras is None and g.points is None and g.reprojection_errors is None
    assert g.mean_error == plain.mean_error and g.samples == plain.samples
    r = tarvik.estimate_tensor(m, robust=True)
    assert r.robust.found is False and r.robust.reason and r.fell_back
    assert r.refined is False and np.array_equal(r.tensor, plain.tensor)
    np.savetxt(tmp_path / "rand.txt", m, fmt="%.6f")
    check_against_ostrel(tmp_path / "rand.txt", tmp_path, ["-r"], dict(robust=True))
    # The checks of the faithful estimation come first.
    with pytest.raises(ValueError):
        tarvik.estimate_tensor(m[:5], refine=True)
    with pytest.raises(ValueError):
        tarvik.estimate_tensor(m, robust=True, threads=-1)
