#!/usr/bin/python3
"""The workflow's Python steps, on top of tools/match_triplets.py.

  step.py features IMAGE OUT.npz [--min-features N] [--max-features N] [--detector D]
      detects the features of one frame;
  step.py match A.npz B.npz C.npz TRIPLETS [--ratio R] [--check13]
      matches three frames' features into a triplet file;
  step.py summary OUT.tsv TRIPLETS...
      one line per triple: its name, the triplets found and the triplets that
      support the tensor (the lines of TRIPLETS and of the support file beside it).
Output files are written whole under a temporary name and then renamed.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import match_triplets as mt  # noqa: E402


def count_lines(name):
    with open(name) as f:
        return sum(1 for line in f if line.strip())


def main(argv):
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="step", required=True)
    f = sub.add_parser("features")
    f.add_argument("image")
    f.add_argument("out")
    f.add_argument("--min-features", type=int, default=mt.DEFAULT_MIN_FEATURES)
    f.add_argument("--max-features", type=int, default=mt.DEFAULT_MAX_FEATURES)
    f.add_argument("--detector", default="auto", choices=["auto", "sift", "orb"])
    m = sub.add_parser("match")
    m.add_argument("features", nargs=3)
    m.add_argument("out")
    m.add_argument("--ratio", type=float, default=mt.DEFAULT_RATIO)
    m.add_argument("--check13", action="store_true")
    s = sub.add_parser("summary")
    s.add_argument("out")
    s.add_argument("triplets", nargs="*")
    s.add_argument("--support-suffix", default=".TM.matches")
    args = p.parse_args(argv)
    try:
        if args.step == "features":
            feats = mt.detect_features(mt.read_gray(args.image), args.detector, args.min_features,
                                       args.max_features)
            mt.save_features(args.out, feats)
            print("%s: %d %s features (contrast threshold %g)" % (args.image, len(feats), feats.kind,
                                                                  feats.contrast))
        elif args.step == "match":
            f1, f2, f3 = (mt.load_features(n) for n in args.features)
            result = mt.match_features(f1, f2, f3, args.ratio, args.check13)
            mt.write_match_file(args.out, result.triplets)
            print("%s: %d triplets (%d pairs 1-2, %d pairs 2-3)" % (args.out, len(result.triplets),
                                                                     len(result.pairs12), len(result.pairs23)))
        else:
            text = "triple\ttriplets\tsupport\n"
            for name in args.triplets:
                text += "%s\t%d\t%d\n" % (os.path.basename(os.path.dirname(name)), count_lines(name),
                                          count_lines(name + args.support_suffix))
            temporary = args.out + ".part"
            with open(temporary, "w") as out:
                out.write(text)
            os.replace(temporary, args.out)
    except (mt.MatcherError, OSError) as e:
        sys.stderr.write("step %s: %s\n" % (args.step, e))
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
