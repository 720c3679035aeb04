"""Tests of the matcher's library functions (tools/match_triplets.py)."""
import os
import sys

import numpy as np
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
cv2 = pytest.importorskip("cv2", reason="OpenCV for Python (python3-opencv) is not installed")
import match_triplets as mt  # noqa: E402

SCENE = os.path.join(HERE, "..", "..", "examples", "scene")


def test_link_triplets_through_the_middle_image_and_the_first_last_check():
    m12 = {0: 5, 1: 6, 2: 7}
    m23 = {5: 9, 7: 8, 4: 3}
    assert mt.link_triplets(m12, m23) == [(0, 5, 9), (2, 7, 8)]
    assert mt.link_triplets(m12, m23, {0: 9, 2: 1}) == [(0, 5, 9)]


def test_features_depend_on_their_image_alone_and_use_rootsift():
    image = mt.read_gray(os.path.join(SCENE, "view2.jpg"))
    a = mt.detect_features(image)
    b = mt.detect_features(os.path.join(SCENE, "view2.jpg"))
    assert a.kind == "SIFT" and len(a) > 1000
    assert np.array_equal(a.xy, b.xy) and np.array_equal(a.descriptors, b.descriptors)
    # RootSIFT rows have unit Euclidean length (square roots of an L1-normalised histogram).
    assert np.allclose(np.linalg.norm(a.descriptors, axis=1), 1.0, atol=1e-4)
    # One keypoint per position, so vandrel never sees two points in one place.
    assert len({tuple(p) for p in np.round(a.xy, 2)}) == len(a)
    # The threshold went down for this low-contrast render, and a low target keeps the default.
    assert a.contrast < mt.FIRST_CONTRAST
    assert mt.detect_features(image, min_features=10).contrast == mt.FIRST_CONTRAST


def test_saved_features_match_like_fresh_ones(tmp_path):
    f = [mt.detect_features(os.path.join(SCENE, "view%d.jpg" % k)) for k in (1, 2, 3)]
    mt.save_features(str(tmp_path / "f2.npz"), f[1])
    loaded = mt.load_features(str(tmp_path / "f2.npz"))
    direct = mt.match_features(f[0], f[1], f[2])
    reloaded = mt.match_features(f[0], loaded, f[2])
    assert np.array_equal(direct.triplets, reloaded.triplets) and len(direct.triplets) > 60
    checked = mt.match_features(f[0], f[1], f[2], check13=True)
    assert 0 < len(checked.triplets) <= len(direct.triplets)
    assert {tuple(t) for t in checked.triplets} <= {tuple(t) for t in direct.triplets}
    with pytest.raises(mt.MatcherError):
        mt.load_features(str(tmp_path / "missing.npz"))
    with pytest.raises(mt.MatcherError):
        mt.read_gray(str(tmp_path / "missing.png"))
