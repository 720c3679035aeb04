#!/usr/bin/python3
"""Draws the tracks of a track file on one frame: each track as a line
through its positions in the frames it visits, a dot at its last position.

  draw_tracks.py FRAME TRACKS OUT.jpg [--min-length 4] [--scale 1]
"""
import argparse
import os
import sys

import cv2
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import ground_truth  # noqa: E402


def main(argv):
    p = argparse.ArgumentParser()
    p.add_argument("frame")
    p.add_argument("tracks")
    p.add_argument("out")
    p.add_argument("--min-length", type=int, default=4)
    p.add_argument("--scale", type=float, default=1.0)
    args = p.parse_args(argv)
    image = cv2.imread(args.frame, cv2.IMREAD_COLOR)
    if image is None:
        sys.stderr.write("draw_tracks: can't read %s\n" % args.frame)
        return 2
    if args.scale != 1.0:
        image = cv2.resize(image, None, fx=args.scale, fy=args.scale, interpolation=cv2.INTER_AREA)
    image = (image * 0.6).astype(np.uint8)
    tracks = ground_truth.read_tracks(args.tracks)
    for chain, points in sorted(tracks.items()):
        if len(points) < args.min_length:
            continue
        hue = (chain * 37) % 180
        colour = cv2.cvtColor(np.uint8([[[hue, 255, 255]]]), cv2.COLOR_HSV2BGR)[0, 0].tolist()
        xy = np.array([(x, y) for _, x, y in points]) * args.scale
        cv2.polylines(image, [np.round(xy * 16).astype(np.int32)], False, colour, 1, cv2.LINE_AA, 4)
        cv2.circle(image, tuple(int(v) for v in np.round(xy[-1])), 2, colour, -1, cv2.LINE_AA)
    temporary = args.out + ".part.jpg"
    if not cv2.imwrite(temporary, image, [cv2.IMWRITE_JPEG_QUALITY, 80]):
        sys.stderr.write("draw_tracks: can't write %s\n" % args.out)
        return 2
    os.replace(temporary, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
