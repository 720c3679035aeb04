"""Tests of tools/render_povray.py: the projection matrix of a POV-Ray camera,
checked by formula and on spheres that POV-Ray renders."""
import os
import shutil
import sys

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import render_povray as rp  # noqa: E402


def test_projection_of_the_camera_frame():
    w, h = 640, 480
    location = np.array([1.0, 2.0, -3.0])
    right, up, direction = rp.camera_frame(location, (0.0, 1.0, 4.0), 60.0, w, h)
    p = rp.projection_matrix(location, right, up, direction, w, h)
    assert np.allclose(p @ np.append(location, 1.0), 0.0)  # the centre is the camera's null vector

    def at(point):
        q = p @ np.append(point, 1.0)
        return q[:2] / q[2]

    # The viewing direction meets the image centre; right is +x and up is -y in pixels.
    assert np.allclose(at(location + 5.0 * direction), ((w - 1) / 2, (h - 1) / 2))
    # The screen corner (u, v) = (1/2, 1/2) is the top right corner of the top right pixel.
    assert np.allclose(at(location + direction + 0.5 * right + 0.5 * up), (w - 0.5, -0.5))
    # A 60 degree horizontal field of view: the left edge of the image is 30 degrees off axis.
    forward = direction / np.linalg.norm(direction)
    side = right / np.linalg.norm(right)
    edge = location + forward - np.tan(np.radians(30.0)) * side
    assert np.allclose(at(edge)[0], -0.5)
    # A level camera: its right vector has no vertical part, and the frame is orthogonal.
    assert abs(right[1]) < 1e-12 and abs(right @ up) < 1e-12 and abs(up @ direction) < 1e-12


@pytest.mark.skipif(shutil.which(rp.POVRAY) is None or not os.path.isdir(rp.INCLUDE),
                    reason="POV-Ray (Debian packages povray, povray-includes) is not installed")
def test_rendered_spheres_sit_at_their_projections(tmp_path):
    pytest.importorskip("cv2", reason="OpenCV for Python (python3-opencv) is not installed")
    assert rp.check_cameras(str(tmp_path)) < 0.25
