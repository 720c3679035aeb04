#!/usr/bin/python3
"""Finds point triplets in three photographs, for ostrel.

Detects local features in each image with OpenCV, matches image 1 with
image 2 and image 2 with image 3, and links the two sets of matches through
the features of image 2: a feature of image 2 matched both ways gives one
triplet. Each match must pass Lowe's ratio test (its best candidate clearly
better than the second best) in both directions, and be mutual (the best
candidate of the best candidate is the feature itself). With --check13 the
features of images 1 and 3 must also be each other's mutual match.

Features are SIFT keypoints with RootSIFT descriptors (the square root of
the L1-normalised SIFT descriptor, compared with the Euclidean distance,
which amounts to the Hellinger kernel on the original histograms). SIFT's
contrast threshold adapts per image: it starts at OpenCV's default and is
halved until the image yields --min-features keypoints (or the threshold
reaches its floor), so low-contrast images are not left with a few hundred
features. ORB is used only where OpenCV has no SIFT, or on request.

Each image's features depend on that image alone, so an image shared by two
runs of three images gets the same keypoint positions in both triplet files,
which is what vandrel needs to chain them.

Writes
  the triplet file (-o, default triplets.txt): x1 y1 x2 y2 x3 y3 a line,
    the input of ostrel;
  two pair files (x y x y a line, the input of pelmix): the matches of
    images 1-2 and 2-3, by default pairs12.txt and pairs23.txt beside the
    triplet file.
Positions are in pixels, the centre of the top-left pixel being (0, 0).

The same code serves as a library: detect_features, save_features,
load_features, match_features and match_triplets (see their documentation).

Needs OpenCV for Python (Debian: apt-get install python3-opencv).

Exit status: 0 written, 1 wrong command line, 2 an image cannot be read or
an output file cannot be written, 3 OpenCV is missing.

Example:
  tools/match_triplets.py view1.jpg view2.jpg view3.jpg -o triplets.txt
  ostrel -f triplets.txt -i view1.jpg -j view2.jpg -k view3.jpg
"""
import argparse
import os
import sys

import numpy as np

# Matching settings shared by the command line and the library functions.
DEFAULT_RATIO = 0.85
DEFAULT_MAX_FEATURES = 8000
DEFAULT_MIN_FEATURES = 3000
FIRST_CONTRAST = 0.04    # OpenCV's default SIFT contrast threshold
LOWEST_CONTRAST = 0.0025  # below this SIFT mostly finds noise


class MatcherError(Exception):
    """An image that cannot be read, a features file that cannot be used, or OpenCV missing."""


def _cv2():
    try:
        import cv2
    except ImportError:
        raise MatcherError("needs OpenCV for Python (Debian package python3-opencv)")
    return cv2


class Features:
    """The features of one image: positions (n x 2, float64, pixels), descriptors
    (n x d; float32 RootSIFT or uint8 ORB) and the detector's name ("SIFT" or "ORB")."""

    def __init__(self, xy, descriptors, kind, contrast=0.0):
        self.xy = np.asarray(xy, dtype=np.float64).reshape(-1, 2)
        self.descriptors = descriptors
        self.kind = kind
        self.contrast = contrast  # the SIFT contrast threshold that was used (0 for ORB)

    def __len__(self):
        return len(self.xy)


def read_gray(name):
    """The image file as an 8-bit gray array; MatcherError when it cannot be read."""
    cv2 = _cv2()
    image = cv2.imread(name, cv2.IMREAD_GRAYSCALE) if os.path.isfile(name) else None
    if image is None:
        raise MatcherError("can't read image %s" % name)
    return image


def _root_sift(descriptors):
    d = descriptors.astype(np.float32)
    d /= np.maximum(d.sum(axis=1, keepdims=True), 1e-12)
    return np.sqrt(d)


def _unique_positions(keypoints, descriptors):
    """Keeps the first (strongest) keypoint of each position: SIFT gives one
    keypoint per dominant orientation, and two descriptors at one spot would
    fail each other's ratio test and give vandrel two points it cannot tell apart."""
    seen = set()
    keep = []
    for i, k in enumerate(keypoints):
        key = (round(k.pt[0], 2), round(k.pt[1], 2))
        if key not in seen:
            seen.add(key)
            keep.append(i)
    return [keypoints[i] for i in keep], descriptors[keep] if len(keep) else descriptors[:0]


def detect_features(image, detector="auto", min_features=DEFAULT_MIN_FEATURES,
                    max_features=DEFAULT_MAX_FEATURES):
    """Features of an 8-bit gray image (or an image file name).

    SIFT (detector "auto" or "sift") lowers its contrast threshold, halving it
    from 0.04 down to 0.0025, until at least min_features keypoints are found;
    the strongest max_features are kept. ORB ("orb", or "auto" when OpenCV has
    no SIFT) detects max_features keypoints."""
    cv2 = _cv2()
    if isinstance(image, str):
        image = read_gray(image)
    if detector in ("auto", "sift") and hasattr(cv2, "SIFT_create"):
        contrast = FIRST_CONTRAST
        while True:
            sift = cv2.SIFT_create(nfeatures=max_features, contrastThreshold=contrast)
            keypoints, descriptors = sift.detectAndCompute(image, None)
            if len(keypoints) >= min_features or contrast / 2 < LOWEST_CONTRAST:
                break
            contrast /= 2
        if descriptors is None or len(keypoints) == 0:
            return Features(np.zeros((0, 2)), np.zeros((0, 128), np.float32), "SIFT", contrast)
        keypoints, descriptors = _unique_positions(keypoints, descriptors)
        return Features([k.pt for k in keypoints], _root_sift(descriptors), "SIFT", contrast)
    if detector == "sift":
        sys.stderr.write("match_triplets: this OpenCV has no SIFT; using ORB\n")
    orb = cv2.ORB_create(nfeatures=max_features)
    keypoints, descriptors = orb.detectAndCompute(image, None)
    if descriptors is None or len(keypoints) == 0:
        return Features(np.zeros((0, 2)), np.zeros((0, 32), np.uint8), "ORB")
    keypoints, descriptors = _unique_positions(keypoints, descriptors)
    return Features([k.pt for k in keypoints], descriptors, "ORB")


def save_features(name, features):
    """Writes features to an .npz file (written under a temporary name, then renamed)."""
    folder = os.path.dirname(os.path.abspath(name))
    temporary = os.path.join(folder, ".%s.part.npz" % os.path.basename(name))
    np.savez(temporary, xy=features.xy, descriptors=features.descriptors,
             kind=np.array(features.kind), contrast=np.array(features.contrast))
    os.replace(temporary, name)


def load_features(name):
    try:
        with np.load(name) as f:
            return Features(f["xy"], f["descriptors"], str(f["kind"]), float(f["contrast"]))
    except (OSError, KeyError, ValueError) as e:
        raise MatcherError("can't read features %s: %s" % (name, e))


def _one_way(matcher, a, b, ratio):
    """For each descriptor of a: the index of its best match in b when it passes the ratio test."""
    best = {}
    for candidates in matcher.knnMatch(a, b, k=2):
        if not candidates:
            continue
        # A single candidate (b holds one descriptor) has nothing to compare with.
        if len(candidates) == 1 or candidates[0].distance < ratio * candidates[1].distance:
            best[candidates[0].queryIdx] = candidates[0].trainIdx
    return best


def mutual_matches(fa, fb, ratio=DEFAULT_RATIO):
    """Pairs {i: j} of feature indices of fa and fb that are each other's best
    match, both passing the ratio test."""
    if fa.kind != fb.kind:
        raise MatcherError("can't match %s features with %s features" % (fa.kind, fb.kind))
    if len(fa) == 0 or len(fb) == 0:
        return {}
    cv2 = _cv2()
    matcher = cv2.BFMatcher(cv2.NORM_L2 if fa.kind == "SIFT" else cv2.NORM_HAMMING, crossCheck=False)
    forward = _one_way(matcher, fa.descriptors, fb.descriptors, ratio)
    backward = _one_way(matcher, fb.descriptors, fa.descriptors, ratio)
    return {i: j for i, j in forward.items() if backward.get(j) == i}


def link_triplets(m12, m23, m13=None):
    """Triplets (i1, i2, i3) through the features of image 2 matched both ways,
    in image-2 feature order; with m13, only those whose ends match too."""
    back12 = {i2: i1 for i1, i2 in m12.items()}
    triplets = [(back12[i2], i2, m23[i2]) for i2 in sorted(m23) if i2 in back12]
    if m13 is not None:
        triplets = [t for t in triplets if m13.get(t[0]) == t[2]]
    return triplets


class Matches:
    """The result of matching three images: triplets (n x 6), pairs12 and
    pairs23 (m x 4), positions in pixels."""

    def __init__(self, triplets, pairs12, pairs23):
        self.triplets = triplets
        self.pairs12 = pairs12
        self.pairs23 = pairs23


def match_features(f1, f2, f3, ratio=DEFAULT_RATIO, check13=False):
    """Matches the features of three images into triplets and pairs."""
    m12 = mutual_matches(f1, f2, ratio)
    m23 = mutual_matches(f2, f3, ratio)
    m13 = mutual_matches(f1, f3, ratio) if check13 else None
    triplets = link_triplets(m12, m23, m13)

    def rows(pairs, fa, fb):
        if not pairs:
            return np.zeros((0, 4))
        i = np.array(sorted(pairs))
        return np.hstack([fa.xy[i], fb.xy[[pairs[k] for k in i]]])

    t = (np.hstack([f1.xy[[a for a, _, _ in triplets]], f2.xy[[b for _, b, _ in triplets]],
                    f3.xy[[c for _, _, c in triplets]]]) if triplets else np.zeros((0, 6)))
    return Matches(t, rows(m12, f1, f2), rows(m23, f2, f3))


def match_triplets(images, ratio=DEFAULT_RATIO, check13=False, detector="auto",
                   min_features=DEFAULT_MIN_FEATURES, max_features=DEFAULT_MAX_FEATURES):
    """Matches three images (file names or gray arrays) into triplets; returns Matches."""
    f = [detect_features(im, detector, min_features, max_features) for im in images]
    return match_features(f[0], f[1], f[2], ratio, check13)


def format_rows(rows):
    """One line of two-decimal numbers per row, the format of the toolkit's match files."""
    return "".join(" ".join("%.2f" % v for v in row) + "\n" for row in rows)


def write_match_file(name, rows):
    """Writes a match file whole, under a temporary name renamed at the end,
    so that an interrupted run leaves no half-written file."""
    folder = os.path.dirname(os.path.abspath(name))
    temporary = os.path.join(folder, ".%s.part" % os.path.basename(name))
    try:
        with open(temporary, "w") as f:
            f.write(format_rows(rows))
        os.replace(temporary, name)
    except OSError as e:
        try:
            os.remove(temporary)
        except OSError:
            pass
        raise MatcherError("can't write %s: %s" % (name, e.strerror))


# ---------------------------------------------------------------------------
# Command line.

class Parser(argparse.ArgumentParser):
    """Reports a wrong command line with exit status 1, like the toolkit's programs."""

    def error(self, message):
        self.print_usage(sys.stderr)
        sys.stderr.write("%s: error: %s\n" % (self.prog, message))
        sys.exit(1)


def parse_arguments(argv):
    p = Parser(description="Find point triplets in three images with OpenCV and write "
                           "a triplet file for ostrel and two pair files for pelmix.")
    p.add_argument("images", nargs=3, metavar="IMAGE", help="the three images, in view order")
    p.add_argument("-o", "--output", default="triplets.txt", help="triplet file (default %(default)s)")
    p.add_argument("--pairs12", help="pair file of images 1 and 2 (default pairs12.txt beside the triplet file)")
    p.add_argument("--pairs23", help="pair file of images 2 and 3 (default pairs23.txt beside the triplet file)")
    p.add_argument("--detector", choices=["auto", "sift", "orb"], default="auto",
                   help="feature detector (default: SIFT where available, else ORB)")
    p.add_argument("--features", type=int, default=DEFAULT_MAX_FEATURES,
                   help="at most this many features per image (default %(default)s)")
    p.add_argument("--min-features", type=int, default=DEFAULT_MIN_FEATURES,
                   help="SIFT lowers its contrast threshold until it finds this many (default %(default)s)")
    p.add_argument("--ratio", type=float, default=DEFAULT_RATIO,
                   help="ratio test: best distance below RATIO times the second best (default %(default)s)")
    p.add_argument("--check13", action="store_true",
                   help="keep only triplets whose features of images 1 and 3 are mutual matches too")
    args = p.parse_args(argv)
    if args.features < 1:
        p.error("--features must be at least 1")
    if args.min_features < 0:
        p.error("--min-features must not be negative")
    if not 0.0 < args.ratio <= 1.0:
        p.error("--ratio must lie in (0, 1]")
    folder = os.path.dirname(args.output)
    if args.pairs12 is None:
        args.pairs12 = os.path.join(folder, "pairs12.txt")
    if args.pairs23 is None:
        args.pairs23 = os.path.join(folder, "pairs23.txt")
    return args


def main(argv):
    args = parse_arguments(argv)
    try:
        _cv2()
    except MatcherError as e:
        sys.stderr.write("match_triplets: %s\n" % e)
        return 3
    try:
        features = []
        for name in args.images:
            f = detect_features(read_gray(name), args.detector, args.min_features, args.features)
            features.append(f)
            if f.kind == "SIFT":
                print("%s: %d SIFT features (contrast threshold %g)" % (name, len(f), f.contrast))
            else:
                print("%s: %d ORB features" % (name, len(f)))
        m = match_features(features[0], features[1], features[2], args.ratio, args.check13)
        write_match_file(args.pairs12, m.pairs12)
        print("wrote %s: %d matches of images 1 and 2" % (args.pairs12, len(m.pairs12)))
        write_match_file(args.pairs23, m.pairs23)
        print("wrote %s: %d matches of images 2 and 3" % (args.pairs23, len(m.pairs23)))
        write_match_file(args.output, m.triplets)
        print("wrote %s: %d triplets" % (args.output, len(m.triplets)))
    except MatcherError as e:
        sys.stderr.write("match_triplets: %s\n" % e)
        return 2
    if len(m.triplets) < 6:
        print("note: ostrel needs at least 6 triplets; try a larger --ratio or more --features")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
