#!/usr/bin/env python3
"""The terminal progress line of ostrel and pelmix.

Runs each program twice on the same input: once with standard error on a
pseudo-terminal, once on a pipe. Standard output and the files must be the
same bytes; the terminal must have seen the progress line, redrawn at most
ten times a second and erased after its last drawing; with a pipe nothing
of it appears.
Usage: progress_line_test.py BIN_DIR
"""
import os
import pty
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import random_matches  # noqa: E402

BIN = os.path.abspath(sys.argv[1])
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(args, cwd, terminal):
    """Returns stdout, stderr and wall seconds of one run."""
    if not terminal:
        start = time.monotonic()
        p = subprocess.run(args, cwd=cwd, capture_output=True)
        return p.stdout, p.stderr, time.monotonic() - start
    master, slave = pty.openpty()
    start = time.monotonic()
    p = subprocess.Popen(args, cwd=cwd, stdout=subprocess.PIPE, stderr=slave,
                         stdin=subprocess.DEVNULL)
    os.close(slave)
    err = bytearray()
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # EIO: the program closed the terminal
            break
        if not chunk:
            break
        err += chunk
    out = p.stdout.read()
    p.wait()
    os.close(master)
    # The terminal turns "\n" into "\r\n".
    return out, bytes(err).replace(b"\r\n", b"\n"), time.monotonic() - start


def compare(name, args, cwd, outputs, line_pattern):
    files = {}
    results = []
    for terminal in (True, False):
        out, err, seconds = run(args, cwd, terminal)
        results.append((out, err, seconds))
        files[terminal] = [open(os.path.join(cwd, f), "rb").read() for f in outputs]
    (t_out, t_err, seconds), (p_out, p_err, _) = results
    check(t_out == p_out, f"{name}: standard output differs on a terminal")
    check(files[True] == files[False], f"{name}: output files differ on a terminal")
    drawings = re.findall(rb"\r(" + line_pattern + rb")\x1b\[K", t_err)
    check(len(drawings) >= 1, f"{name}: no progress line on the terminal")
    check(len(drawings) <= 10 * seconds + 2,
          f"{name}: {len(drawings)} drawings in {seconds:.1f} s")
    # Removing the drawings and their erasures leaves the pipe's stderr.
    rest = re.sub(rb"\r" + line_pattern + rb"\x1b\[K", b"", t_err).replace(b"\r\x1b[K", b"")
    check(rest == p_err, f"{name}: standard error differs beyond the progress line")
    check(t_err.rfind(b"\r\x1b[K") > t_err.rfind(drawings[-1] if drawings else b"\x00"),
          f"{name}: the last progress line is not erased")
    check(b"\x1b" not in p_err, f"{name}: progress output on a pipe")


with tempfile.TemporaryDirectory() as d:
    random_matches.write_noise_triplets(os.path.join(d, "noise.txt"), 20000)
    random_matches.write_disparity_pairs(os.path.join(d, "pairs.txt"), 20000)
    compare("ostrel", [os.path.join(BIN, "ostrel"), "-f", "noise.txt", "-n", "400", "-p", "1"], d,
            ["noise.txt.TM", "noise.txt.TM.matches"],
            rb"ostrel: \d+ of 401 samples, best support \d+ of 20000")
    compare("pelmix", [os.path.join(BIN, "pelmix"), "-f", "pairs.txt", "-p", "1"], d,
            ["pairs.txt.filtered"], rb"pelmix: pass \d+, \d+ matches left, +\d+%")

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
