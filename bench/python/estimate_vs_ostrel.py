"""Times tarvik.estimate_tensor against the ostrel program on the same match file.

Runs the two alternately (ostrel, Python, ostrel, ...) and prints the median of the
pair-by-pair ratios Python / ostrel, so that a drift of the machine's speed moves both
sides of a pair alike. ostrel is timed as a whole process (start, reading, estimation,
writing its two files); the Python side as tarvik.read_matches plus estimate_tensor in
this interpreter (import time excluded; it is measured separately).

    PYTHONPATH=build/python /usr/bin/python3 bench/python/estimate_vs_ostrel.py \
        --ostrel build/bin/ostrel --runs 7 FILE [-- OSTREL_OPTIONS]

OSTREL_OPTIONS are ostrel's (-n N, -d D, -a, -p N, ...); the same options are given to
estimate_tensor.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time

import tarvik


def keywords(options):
    """estimate_tensor's keywords for the ostrel options the benchmark accepts."""
    kw, i = {}, 0
    while i < len(options):
        o = options[i]
        if o in ("-n", "-d", "-s", "-p"):
            value = options[i + 1]
            i += 1
            if o == "-n":
                kw["samples"] = int(value)
            elif o == "-d":
                kw["distance"] = float(value)
            elif o == "-s":
                kw["stop_early"] = float(value)
            else:
                kw["threads"] = int(value)
        elif o == "-a":
            kw["affine"] = True
        elif o == "-m":
            kw["refit"] = False
        elif o == "-l":
            kw["scoring"] = "l2"
        elif o == "-g":
            kw["refine"] = True
        elif o == "-r":
            kw["robust"] = True
        else:
            raise SystemExit(f"option {o} is not handled here")
        i += 1
    return kw


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--ostrel", default="build/bin/ostrel")
    p.add_argument("--runs", type=int, default=7)
    p.add_argument("file")
    p.add_argument("options", nargs="*")
    a = p.parse_args()
    kw = keywords(a.options)
    work = tempfile.mkdtemp()
    try:
        shutil.copy(a.file, os.path.join(work, "m.txt"))
        ostrel = [os.path.abspath(a.ostrel), "-f", "m.txt"] + a.options
        path = os.path.join(work, "m.txt")
        times_o, times_p = [], []
        for run in range(a.runs + 1):  # the first pair warms the caches and is not counted
            start = time.perf_counter()
            subprocess.run(ostrel, cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           stdin=subprocess.DEVNULL, check=True)
            t_o = time.perf_counter() - start
            start = time.perf_counter()
            tarvik.estimate_tensor(tarvik.read_matches(path), **kw)
            t_p = time.perf_counter() - start
            if run:
                times_o.append(t_o)
                times_p.append(t_p)
        ratios = [p_ / o_ for p_, o_ in zip(times_p, times_o)]
        print(f"ostrel {' '.join(a.options) or '(defaults)'}: median {statistics.median(times_o):.3f} s"
              f"  estimate_tensor({', '.join(f'{k}={v!r}' for k, v in kw.items())}):"
              f" median {statistics.median(times_p):.3f} s")
        print(f"ratio Python / ostrel: median {statistics.median(ratios):.3f}"
              f" (min {min(ratios):.3f}, max {max(ratios):.3f}, {len(ratios)} pairs)")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
