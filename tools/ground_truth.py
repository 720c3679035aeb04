#!/usr/bin/python3
"""Scores correspondences against true cameras.

A correspondence (a triplet, or a track over any number of views) is
correct when the scene point triangulated from it with the true cameras
reprojects within a threshold (2 pixels by default) of its position in
every view. Triangulation is optimal in the least-squares sense: the point
minimises the sum of squared reprojection distances over the views (the
maximum-likelihood point under Gaussian position noise), found by
Levenberg-Marquardt from the linear (DLT) solution on normalised
coordinates.

Camera files hold 12 numbers per camera, the rows of its 3 x 4 projection
matrix in order, in any arrangement of lines (one line of 12 numbers per
camera, or three lines of 4).

Usage as a program:
  tools/ground_truth.py cameras.txt triplets.txt [--threshold 2]
prints the number of triplets, the number correct and their share.
Exit status 0, 1 wrong command line, 2 a file cannot be read.
"""
import argparse
import sys

import numpy as np

THRESHOLD = 2.0


def read_cameras(name):
    """The cameras of a file as an (n, 3, 4) array; ValueError when the file
    does not hold a whole number of cameras."""
    values = np.loadtxt(name, ndmin=1).ravel()
    if values.size == 0 or values.size % 12:
        raise ValueError("%s: %d numbers, not a multiple of 12" % (name, values.size))
    return values.reshape(-1, 3, 4)


def read_matches(name, width=6):
    """The rows of a match file as an (n, width) array (an empty file gives (0, width))."""
    rows = []
    with open(name) as f:
        for number, line in enumerate(f, 1):
            values = line.split()
            if not values:
                continue
            if len(values) != width:
                raise ValueError("%s:%d: %d numbers, expected %d" % (name, number, len(values), width))
            rows.append([float(v) for v in values])
    return np.array(rows, dtype=np.float64).reshape(-1, width)


def project(camera, point):
    """Pixel position (x, y) of a scene point (3 coordinates or homogeneous 4)."""
    q = camera @ (np.append(point, 1.0) if len(point) == 3 else point)
    return q[:2] / q[2]


def _linear_point(cameras, xy):
    # Each view gives the two rows x P3 - P1 and y P3 - P2; the positions are
    # scaled so that the rows are of comparable size.
    scale = 1.0 / max(1.0, float(np.abs(xy).max()))
    rows = []
    for p, (x, y) in zip(cameras, xy):
        rows.append(x * scale * p[2] - scale * p[0])
        rows.append(y * scale * p[2] - scale * p[1])
    return np.linalg.svd(np.array(rows))[2][-1]


def _residuals(cameras, xy, point):
    q = np.einsum("vij,j->vi", cameras, np.append(point, 1.0))
    return (q[:, :2] / q[:, 2:3] - xy).ravel(), q


def triangulate(cameras, xy, iterations=20):
    """The scene point (3 coordinates) of positions xy (one (x, y) row per
    camera) minimising the sum of squared reprojection distances; None when
    the views do not fix a finite point in front of them."""
    cameras = np.asarray(cameras, dtype=np.float64)
    xy = np.asarray(xy, dtype=np.float64).reshape(-1, 2)
    h = _linear_point(cameras, xy)
    if abs(h[3]) < 1e-12 * np.abs(h).max():
        return None
    point = h[:3] / h[3]
    r, q = _residuals(cameras, xy, point)
    if np.any(q[:, 2] == 0.0):
        return None
    cost = r @ r
    damping = 1e-3
    for _ in range(iterations):
        # Jacobian of (u/w, v/w) with respect to the point, one view at a time.
        jac = np.empty((2 * len(cameras), 3))
        for v, p in enumerate(cameras):
            u, vv, w = q[v]
            jac[2 * v] = (p[0, :3] * w - u * p[2, :3]) / (w * w)
            jac[2 * v + 1] = (p[1, :3] * w - vv * p[2, :3]) / (w * w)
        a = jac.T @ jac
        g = jac.T @ r
        improved = False
        while damping < 1e12:
            step = np.linalg.solve(a + damping * np.diag(np.diag(a) + 1e-12), -g)
            trial = point + step
            r_trial, q_trial = _residuals(cameras, xy, trial)
            c = r_trial @ r_trial
            if np.all(q_trial[:, 2] != 0.0) and c < cost:
                point, r, q, cost = trial, r_trial, q_trial, c
                damping = max(damping / 10.0, 1e-12)
                improved = True
                break
            damping *= 10.0
        if not improved or np.linalg.norm(step) < 1e-12 * (1.0 + np.linalg.norm(point)):
            break
    return point


def reprojection_errors(cameras, xy):
    """Distance, in each view, between the position and the projection of the
    optimally triangulated point; infinite in every view when triangulation fails."""
    cameras = np.asarray(cameras, dtype=np.float64)
    xy = np.asarray(xy, dtype=np.float64).reshape(-1, 2)
    point = triangulate(cameras, xy)
    if point is None:
        return np.full(len(cameras), np.inf)
    r, q = _residuals(cameras, xy, point)
    errors = np.hypot(r[0::2], r[1::2])
    # The camera files scale each matrix so that its third row gives the
    # depth (positive in front); a point behind a camera is no scene point of it.
    front = q[:, 2] > 0.0
    errors[~front] = np.inf
    return errors


def worst_errors(cameras, rows):
    """For each row (x1 y1 x2 y2 ... one position per camera), its largest reprojection error."""
    rows = np.asarray(rows, dtype=np.float64).reshape(-1, 2 * len(cameras))
    return np.array([reprojection_errors(cameras, row).max() for row in rows])


def correct(cameras, rows, threshold=THRESHOLD):
    """Boolean array: the rows whose reprojection error is below threshold in every view."""
    return worst_errors(cameras, rows) < threshold


class Parser(argparse.ArgumentParser):
    """Reports a wrong command line with exit status 1."""

    def error(self, message):
        self.print_usage(sys.stderr)
        sys.stderr.write("%s: error: %s\n" % (self.prog, message))
        sys.exit(1)


def read_tracks(name):
    """The tracks of a file of "mp image chain x y" lines: {chain: [(image, x, y), ...]}
    in file order."""
    tracks = {}
    with open(name) as f:
        for number, line in enumerate(f, 1):
            fields = line.split()
            if not fields:
                continue
            if len(fields) != 5 or fields[0] != "mp":
                raise ValueError("%s:%d: not an mp line: %r" % (name, number, line))
            tracks.setdefault(int(fields[2]), []).append((int(fields[1]), float(fields[3]), float(fields[4])))
    return tracks


def track_errors(cameras, tracks, min_length=4):
    """For each track of at least min_length points: its largest reprojection
    error over the frames it visits. `cameras` maps an image number to its
    3 x 4 matrix; a track through an image without a camera counts as wrong."""
    errors = []
    for points in tracks.values():
        if len(points) < min_length:
            continue
        if any(image not in cameras for image, _, _ in points):
            errors.append(np.inf)
            continue
        p = np.array([cameras[image] for image, _, _ in points])
        xy = np.array([(x, y) for _, x, y in points])
        errors.append(reprojection_errors(p, xy).max())
    return np.array(errors)


def main(argv):
    p = Parser(description="Share of triplets that agree with the true cameras.")
    p.add_argument("cameras")
    p.add_argument("triplets")
    p.add_argument("--threshold", type=float, default=THRESHOLD)
    args = p.parse_args(argv)
    try:
        cameras = read_cameras(args.cameras)
        rows = read_matches(args.triplets, 2 * len(cameras))
    except (OSError, ValueError) as e:
        sys.stderr.write("ground_truth: %s\n" % e)
        return 2
    ok = correct(cameras, rows, args.threshold)
    n = len(rows)
    print("%d triplets, %d correct (%.1f%%) within %g px" % (n, ok.sum(), 100.0 * ok.sum() / max(n, 1),
                                                            args.threshold))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
