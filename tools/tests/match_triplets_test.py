#!/usr/bin/python3
"""Test of tools/match_triplets.py on the example scene.

Runs the matcher on the three rendered views of examples/scene, checks its
triplets against the true cameras of the scene (examples/scene/cameras.txt),
and checks that ostrel accepts the triplet file and keeps the triplets that
agree with the geometry.

Usage: match_triplets_test.py MATCHER OSTREL EXAMPLE_SCENE_FOLDER
Exit status 0 passed, 1 failed, 77 skipped (no OpenCV or numpy).
"""
import os
import shutil
import subprocess
import sys
import tempfile

try:
    import cv2  # noqa: F401  (only its presence is tested here)
    import numpy as np
except ImportError:
    print("skipped: OpenCV for Python (python3-opencv) is not installed")
    sys.exit(77)

failures = []


def check(condition, message):
    print(("ok:     " if condition else "FAILED: ") + message)
    if not condition:
        failures.append(message)


def read_rows(name, width):
    rows = []
    with open(name) as f:
        for line in f:
            values = [float(v) for v in line.split()]
            if len(values) != width:
                raise ValueError("%s: line with %d numbers: %r" % (name, len(values), line))
            rows.append(values)
    return np.array(rows).reshape(-1, width)


def reprojection_error(cameras, row):
    """Largest distance between a triplet's positions and the projections of
    the scene point triangulated from all three (linear least squares)."""
    a = []
    for p, (x, y) in zip(cameras, row.reshape(3, 2)):
        a.append(x * p[2] - p[0])
        a.append(y * p[2] - p[1])
    point = np.linalg.svd(np.array(a))[2][-1]
    worst = 0.0
    for p, (x, y) in zip(cameras, row.reshape(3, 2)):
        q = p @ point
        worst = max(worst, float(np.hypot(q[0] / q[2] - x, q[1] / q[2] - y)))
    return worst


def main():
    matcher, ostrel, scene = sys.argv[1:4]
    cameras = np.loadtxt(os.path.join(scene, "cameras.txt")).reshape(3, 3, 4)
    work = tempfile.mkdtemp(prefix="match_triplets_test.")
    try:
        for v in ("view1.jpg", "view2.jpg", "view3.jpg"):
            shutil.copy(os.path.join(scene, v), work)

        def run(args):
            return subprocess.run(args, cwd=work, stdin=subprocess.DEVNULL, capture_output=True, text=True)

        # The command line: a missing image argument and an unreadable image.
        r = run([sys.executable, matcher, "view1.jpg", "view2.jpg"])
        check(r.returncode == 1, "two images only: exit status 1 (got %d)" % r.returncode)
        r = run([sys.executable, matcher, "view1.jpg", "view2.jpg", "missing.jpg", "-o", "none.txt"])
        check(r.returncode == 2 and "missing.jpg" in r.stderr,
              "unreadable image: exit status 2 naming it (got %d)" % r.returncode)
        check(not os.path.exists(os.path.join(work, "none.txt")), "unreadable image: no triplet file")

        # The matcher on the three views.
        r = run([sys.executable, matcher, "view1.jpg", "view2.jpg", "view3.jpg", "-o", "triplets.txt"])
        print(r.stdout, end="")
        check(r.returncode == 0, "matcher exit status 0 (got %d: %s)" % (r.returncode, r.stderr.strip()))
        if r.returncode != 0:
            return
        triplets = read_rows(os.path.join(work, "triplets.txt"), 6)
        pairs12 = read_rows(os.path.join(work, "pairs12.txt"), 4)
        pairs23 = read_rows(os.path.join(work, "pairs23.txt"), 4)
        n = len(triplets)
        check(n >= 60, "at least 60 triplets (got %d)" % n)
        check(len(pairs12) >= n and len(pairs23) >= n, "every triplet comes from a pair of each file")
        # Each triplet is linked from a 1-2 match and a 2-3 match.
        set12 = {tuple(p) for p in pairs12}
        set23 = {tuple(p) for p in pairs23}
        linked = all(tuple(t[0:4]) in set12 and tuple(t[2:6]) in set23 for t in triplets)
        check(linked, "every triplet is a 1-2 pair and a 2-3 pair sharing the image-2 position")

        # Agreement with the true cameras.
        errors = np.array([reprojection_error(cameras, t) for t in triplets])
        good = int((errors < 2.0).sum())
        check(good >= 0.8 * n, "%d of %d triplets within 2 pixels of the true geometry (80%% needed)" % (good, n))

        # ostrel on the triplet file.
        r = run([ostrel, "-f", "triplets.txt", "-i", "view1.jpg", "-j", "view2.jpg", "-k", "view3.jpg"])
        check(r.returncode == 0, "ostrel exit status 0 (got %d)" % r.returncode)
        support = os.path.join(work, "triplets.txt.TM.matches")
        check(os.path.exists(support), "ostrel wrote triplets.txt.TM.matches")
        if not os.path.exists(support):
            return
        kept = read_rows(support, 6)
        print("ostrel kept %d of %d triplets" % (len(kept), n))
        inputs = {tuple(np.round(t, 2)) for t in triplets}
        check(all(tuple(np.round(k, 2)) in inputs for k in kept), "every supporting triplet is an input triplet")
        check(len(kept) >= 0.5 * good,
              "ostrel keeps at least half of the %d geometrically right triplets (kept %d)" % (good, len(kept)))
        kept_errors = np.array([reprojection_error(cameras, k) for k in kept]) if len(kept) else np.zeros(0)
        kept_good = int((kept_errors < 2.0).sum())
        check(kept_good >= 0.9 * len(kept),
              "%d of the %d supporting triplets agree with the true geometry (90%% needed)" % (kept_good, len(kept)))
    finally:
        shutil.rmtree(work)


main()
if failures:
    print("%d check(s) failed" % len(failures))
    sys.exit(1)
print("all checks passed")
