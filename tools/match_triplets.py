#!/usr/bin/python3
"""Finds point triplets in three photographs, for ostrel.

Detects local features in each image with OpenCV, matches image 1 with
image 2 and image 2 with image 3, and links the two sets of matches through
the features of image 2: a feature of image 2 matched both ways gives one
triplet. Each match must pass Lowe's ratio test (its best candidate clearly
better than the second best) in both directions, and be mutual (the best
candidate of the best candidate is the feature itself).

Writes
  the triplet file (-o, default triplets.txt): x1 y1 x2 y2 x3 y3 a line,
    the input of ostrel;
  two pair files (x y x y a line, the input of pelmix): the matches of
    images 1-2 and 2-3, by default pairs12.txt and pairs23.txt beside the
    triplet file.
Positions are in pixels, the centre of the top-left pixel being (0, 0).

Needs OpenCV for Python (Debian: apt-get install python3-opencv). Uses SIFT
features where OpenCV has them, ORB otherwise (or as asked with --detector).

Exit status: 0 written, 1 wrong command line, 2 an image cannot be read or
an output file cannot be written, 3 OpenCV is missing.

Example:
  tools/match_triplets.py view1.jpg view2.jpg view3.jpg -o triplets.txt
  ostrel -f triplets.txt -i view1.jpg -j view2.jpg -k view3.jpg
"""
import argparse
import os
import sys


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
    p.add_argument("--features", type=int, default=4000, help="at most this many features per image (default %(default)s)")
    p.add_argument("--ratio", type=float, default=0.8,
                   help="ratio test: best distance below RATIO times the second best (default %(default)s)")
    args = p.parse_args(argv)
    if args.features < 1:
        p.error("--features must be at least 1")
    if not 0.0 < args.ratio <= 1.0:
        p.error("--ratio must lie in (0, 1]")
    folder = os.path.dirname(args.output)
    if args.pairs12 is None:
        args.pairs12 = os.path.join(folder, "pairs12.txt")
    if args.pairs23 is None:
        args.pairs23 = os.path.join(folder, "pairs23.txt")
    return args


def make_detector(cv2, name, features):
    """Returns (detector, descriptor norm, name used)."""
    if name in ("auto", "sift") and hasattr(cv2, "SIFT_create"):
        return cv2.SIFT_create(nfeatures=features), cv2.NORM_L2, "SIFT"
    if name == "sift":
        sys.stderr.write("match_triplets: this OpenCV has no SIFT; using ORB\n")
    return cv2.ORB_create(nfeatures=features), cv2.NORM_HAMMING, "ORB"


def one_way(matcher, a, b, ratio):
    """For each descriptor of a: the index of its best match in b when it passes the ratio test."""
    best = {}
    for candidates in matcher.knnMatch(a, b, k=2):
        if not candidates:
            continue
        # A single candidate (b holds one descriptor) has nothing to compare with.
        if len(candidates) == 1 or candidates[0].distance < ratio * candidates[1].distance:
            best[candidates[0].queryIdx] = candidates[0].trainIdx
    return best


def mutual_matches(matcher, a, b, ratio):
    """Pairs (i, j) of feature indices that are each other's best match, both passing the ratio test."""
    if a is None or b is None or len(a) == 0 or len(b) == 0:
        return {}
    forward = one_way(matcher, a, b, ratio)
    backward = one_way(matcher, b, a, ratio)
    return {i: j for i, j in forward.items() if backward.get(j) == i}


def link_triplets(m12, m23):
    """Triplets (i1, i2, i3) through the features of image 2 matched both ways, in image-2 feature order."""
    back12 = {i2: i1 for i1, i2 in m12.items()}
    return [(back12[i2], i2, m23[i2]) for i2 in sorted(m23) if i2 in back12]


def write_lines(name, rows):
    """Writes one line of two-decimal numbers per row, the whole file at once."""
    text = "".join(" ".join("%.2f" % v for v in row) + "\n" for row in rows)
    try:
        with open(name, "w") as f:
            f.write(text)
    except OSError as e:
        sys.stderr.write("match_triplets: can't write %s: %s\n" % (name, e.strerror))
        sys.exit(2)


def main(argv):
    args = parse_arguments(argv)
    try:
        import cv2
    except ImportError:
        sys.stderr.write("match_triplets: needs OpenCV for Python (Debian package python3-opencv)\n")
        return 3

    images = []
    for name in args.images:
        image = cv2.imread(name, cv2.IMREAD_GRAYSCALE) if os.path.isfile(name) else None
        if image is None:
            sys.stderr.write("match_triplets: can't read image %s\n" % name)
            return 2
        images.append(image)

    detector, norm, detector_name = make_detector(cv2, args.detector, args.features)
    keypoints, descriptors = [], []
    for name, image in zip(args.images, images):
        k, d = detector.detectAndCompute(image, None)
        keypoints.append(k)
        descriptors.append(d)
        print("%s: %d %s features" % (name, len(k), detector_name))

    matcher = cv2.BFMatcher(norm, crossCheck=False)
    m12 = mutual_matches(matcher, descriptors[0], descriptors[1], args.ratio)
    m23 = mutual_matches(matcher, descriptors[1], descriptors[2], args.ratio)
    triplets = link_triplets(m12, m23)

    def at(view, index):
        return keypoints[view][index].pt

    write_lines(args.pairs12, [at(0, i) + at(1, j) for i, j in sorted(m12.items())])
    print("wrote %s: %d matches of images 1 and 2" % (args.pairs12, len(m12)))
    write_lines(args.pairs23, [at(1, i) + at(2, j) for i, j in sorted(m23.items())])
    print("wrote %s: %d matches of images 2 and 3" % (args.pairs23, len(m23)))
    write_lines(args.output, [at(0, a) + at(1, b) + at(2, c) for a, b, c in triplets])
    print("wrote %s: %d triplets" % (args.output, len(triplets)))
    if len(triplets) < 6:
        print("note: ostrel needs at least 6 triplets; try a larger --ratio or more --features")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
