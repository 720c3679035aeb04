#!/usr/bin/env python3
"""Writes examples/small/triplets.txt: point triplets seen by three simple
cameras, for trying ostrel.

Three pinhole cameras (focal length 800 pixels, principal point (320, 240),
640 x 480 images) look at points 8 to 14 units away; each camera is turned a
few degrees about the vertical axis and moved sideways from the one before.
The positions carry about 0.2 pixels of noise, and a few lines are wrong
matches with unrelated positions, so that the estimator has outliers to
reject. The random generator is seeded, so the file is the same every time.

Usage: tools/make_small_example.py [output path]
"""
import math
import os
import random
import sys

FOCAL = 800.0
CX, CY = 320.0, 240.0
WIDTH, HEIGHT = 640.0, 480.0
INLIERS = 36
OUTLIERS = 6
NOISE = 0.2


def rotation_y(degrees):
    a = math.radians(degrees)
    c, s = math.cos(a), math.sin(a)
    return [[c, 0.0, s], [0.0, 1.0, 0.0], [-s, 0.0, c]]


# Camera i maps a world point X to R X + t, then projects.
CAMERAS = [
    (rotation_y(0.0), [0.0, 0.0, 0.0]),
    (rotation_y(4.0), [-0.8, 0.05, 0.1]),
    (rotation_y(8.0), [-1.6, 0.12, 0.15]),
]


def project(camera, point):
    r, t = camera
    x = [sum(r[i][k] * point[k] for k in range(3)) + t[i] for i in range(3)]
    return FOCAL * x[0] / x[2] + CX, FOCAL * x[1] / x[2] + CY


def inside(p):
    return 5.0 <= p[0] < WIDTH - 5.0 and 5.0 <= p[1] < HEIGHT - 5.0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "examples", "small", "triplets.txt")
    rng = random.Random(2011)
    lines = []
    while len(lines) < INLIERS:
        point = [rng.uniform(-3.0, 3.0), rng.uniform(-2.0, 2.0), rng.uniform(8.0, 14.0)]
        views = [project(c, point) for c in CAMERAS]
        if not all(inside(v) for v in views):
            continue
        noisy = [(x + rng.gauss(0.0, NOISE), y + rng.gauss(0.0, NOISE)) for x, y in views]
        lines.append(noisy)
    # Wrong matches, spread among the good ones.
    for _ in range(OUTLIERS):
        wrong = [(rng.uniform(10.0, WIDTH - 10.0), rng.uniform(10.0, HEIGHT - 10.0)) for _ in range(3)]
        lines.insert(rng.randrange(len(lines) + 1), wrong)
    with open(out, "w") as f:
        for views in lines:
            f.write(" ".join("%.2f %.2f" % v for v in views) + "\n")


if __name__ == "__main__":
    main()
