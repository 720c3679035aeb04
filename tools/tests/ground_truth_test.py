"""Tests of tools/ground_truth.py: triangulation, scoring, file readers."""
import os
import sys

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import ground_truth as gt  # noqa: E402


def camera(centre, yaw, focal=500.0, cx=320.0, cy=240.0):
    c, s = np.cos(yaw), np.sin(yaw)
    r = np.array([[c, 0.0, -s], [0.0, 1.0, 0.0], [s, 0.0, c]])
    k = np.array([[focal, 0.0, cx], [0.0, focal, cy], [0.0, 0.0, 1.0]])
    return k @ np.hstack([r, -(r @ np.asarray(centre, float))[:, None]])


CAMERAS = np.array([camera((-1.0, 0.0, 0.0), 0.1), camera((0.0, 0.2, 0.0), 0.0), camera((1.0, 0.0, 0.3), -0.1)])
POINTS = [(0.3, -0.5, 6.0), (-1.2, 0.8, 9.0), (2.0, 1.0, 12.0)]


def row(point):
    return np.concatenate([gt.project(p, np.array(point)) for p in CAMERAS])


def test_exact_projections_triangulate_to_the_point():
    for point in POINTS:
        x = gt.triangulate(CAMERAS, row(point).reshape(3, 2))
        assert np.allclose(x, point, atol=1e-8)
        assert gt.reprojection_errors(CAMERAS, row(point)).max() < 1e-6


def test_optimal_point_beats_the_linear_one_on_noisy_positions():
    rng = np.random.default_rng(5)
    for point in POINTS:
        xy = row(point).reshape(3, 2) + rng.normal(0.0, 1.5, (3, 2))
        h = gt._linear_point(CAMERAS, xy)
        linear_cost = np.sum(gt._residuals(CAMERAS, xy, h[:3] / h[3])[0] ** 2)
        optimal_cost = np.sum(gt._residuals(CAMERAS, xy, gt.triangulate(CAMERAS, xy))[0] ** 2)
        assert optimal_cost <= linear_cost + 1e-9


def test_threshold_in_every_view():
    rows = np.array([row(p) for p in POINTS])
    rows[1, 2] += 12.0  # one wrong position in view 2
    rows[2, 0] += 0.5   # a small error stays correct
    assert list(gt.correct(CAMERAS, rows)) == [True, False, True]
    # Positions behind a camera never count as correct.
    behind = np.concatenate([gt.project(p, np.array([0.0, 0.0, -5.0])) for p in CAMERAS])
    assert not gt.correct(CAMERAS, behind[None, :])[0]


def test_camera_file_layouts_and_tracks(tmp_path):
    one_line = tmp_path / "a.txt"
    one_line.write_text("".join(" ".join(map(repr, p.ravel())) + "\n" for p in CAMERAS))
    three_lines = tmp_path / "b.txt"
    three_lines.write_text("".join(" ".join(map(repr, r)) + "\n" for p in CAMERAS for r in p))
    assert np.array_equal(gt.read_cameras(one_line), gt.read_cameras(three_lines))
    bad = tmp_path / "c.txt"
    bad.write_text("1 2 3\n")
    with pytest.raises(ValueError):
        gt.read_cameras(bad)
    tracks = tmp_path / "t.txt"
    lines = []
    for chain, point in enumerate(POINTS, 1):
        for view in range(3):
            x, y = gt.project(CAMERAS[view], np.array(point)) + (30.0 if chain == 3 and view == 1 else 0.0)
            lines.append("mp %d %d %.1f %.1f\r\n" % (view + 1, chain, x, y))
    tracks.write_bytes("".join(lines).encode())
    read = gt.read_tracks(tracks)
    assert sorted(read) == [1, 2, 3] and len(read[1]) == 3
    errors = gt.track_errors({1: CAMERAS[0], 2: CAMERAS[1], 3: CAMERAS[2]}, read, min_length=3)
    assert list(errors < 2.0) == [True, True, False]
    assert len(gt.track_errors({1: CAMERAS[0]}, read, min_length=4)) == 0
    assert np.isinf(gt.track_errors({1: CAMERAS[0]}, read, min_length=3)).all()
