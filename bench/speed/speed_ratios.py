#!/usr/bin/env python3
"""Whole-program speed ratios of ostrel and pelmix, each measured in one run.

Runs command A and command B in turn (A B A B ...), takes the ratio of their
wall times pair by pair and prints the median ratio with its range, so that
a machine whose speed drifts still gives a fair ratio:

  ostrel, 5,000 triplets (50% outliers, 0.3 px), -d 2 -p 1, against the
    ostrel given with --reference (a build of the code before pruning);
  ostrel, 20,000 pure-noise triplets: every core against -p 1;
  pelmix, 20,000 matches: every core against -p 1.

Usage: bench/speed/speed_ratios.py [--bin build/bin] [--reference OSTREL] [--runs 5]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import random_matches  # noqa: E402


def wall(cmd, cwd):
    start = time.monotonic()
    subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.monotonic() - start


def ratio(name, a, b, cwd, runs):
    wall(a, cwd)  # warm-up
    wall(b, cwd)
    ratios, ta, tb = [], [], []
    for _ in range(runs):
        x = wall(a, cwd)
        y = wall(b, cwd)
        ta.append(x)
        tb.append(y)
        ratios.append(x / y)
    print(f"| {name} | {statistics.median(ta):.3f} s | {statistics.median(tb):.3f} s | "
          f"{statistics.median(ratios):.3f} ({min(ratios):.3f}-{max(ratios):.3f}) |")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", default="build/bin")
    ap.add_argument("--reference", help="ostrel built from the code before pruning")
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    bin_dir = os.path.abspath(args.bin)
    ostrel = os.path.join(bin_dir, "ostrel")
    pelmix = os.path.join(bin_dir, "pelmix")
    with tempfile.TemporaryDirectory() as d:
        subprocess.run([os.path.join(bin_dir, "make_examples"), "--eval", os.path.join(d, "s5k"),
                        "2500", "2500"], check=True, stdout=subprocess.DEVNULL)
        os.replace(os.path.join(d, "s5k", "triplets.txt"), os.path.join(d, "t5k.txt"))
        random_matches.write_noise_triplets(os.path.join(d, "noise.txt"), 20000)
        random_matches.write_disparity_pairs(os.path.join(d, "pairs.txt"), 20000)
        print(f"{os.cpu_count()} cores; median of {args.runs} paired runs (range)")
        print("| A against B | A | B | A/B |")
        print("|---|---|---|---|")
        if args.reference:
            ratio("ostrel 5,000 triplets -d 2 -p 1, against the code before pruning",
                  [ostrel, "-f", "t5k.txt", "-d", "2", "-p", "1"],
                  [os.path.abspath(args.reference), "-f", "t5k.txt", "-d", "2"], d, args.runs)
        ratio("ostrel 20,000 noise triplets, every core against -p 1",
              [ostrel, "-f", "noise.txt"], [ostrel, "-f", "noise.txt", "-p", "1"], d, args.runs)
        ratio("pelmix 20,000 matches, every core against -p 1",
              [pelmix, "-f", "pairs.txt"], [pelmix, "-f", "pairs.txt", "-p", "1"], d, args.runs)


if __name__ == "__main__":
    sys.exit(main())
