import os
import pathlib
import subprocess

import pytest

BIN = pathlib.Path(os.environ.get("TARVIK_BIN", "build/bin"))
EXAMPLES = pathlib.Path(os.environ.get("TARVIK_EXAMPLES", "examples"))


@pytest.fixture
def examples():
    return EXAMPLES


def run_program(name, args, cwd):
    """Runs a built program; returns (status, stdout bytes, stderr bytes)."""
    r = subprocess.run([str(BIN / name)] + [str(a) for a in args], cwd=cwd,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    return r.returncode, r.stdout, r.stderr
