#!/usr/bin/env bash
# Installs the Debian packages the build and the whole test suite need, when
# any is missing, so that no test skips for want of a package: the compiler
# and libraries of the build, valgrind for the memory tests, OpenCV for
# Python for the triplet matcher's test, clang and libFuzzer for the fuzz
# targets of .ci/run, Google Benchmark for bench/, and Ceres, Eigen,
# pybind11, NumPy, pytest, Matplotlib, Snakemake and POV-Ray for the
# refinement, the Python module and the workflow.
# Extra package names given as arguments are installed too.
set -euo pipefail
pkgs=(
  cmake g++ make libgtest-dev libjpeg62-turbo-dev libpng-dev libtiff-dev zlib1g-dev
  valgrind python3-opencv clang-14 libfuzzer-14-dev libbenchmark-dev
  libceres-dev libeigen3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest
  python3-matplotlib snakemake povray povray-examples
  "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
