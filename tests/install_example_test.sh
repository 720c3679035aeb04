#!/usr/bin/env bash
# Installs the toolkit from BUILD_DIR into a temporary prefix, builds
# examples/cpp against that install with find_package(Tarvik), and runs it:
# on the bundled triplet file it must print a support count, on a missing
# file the library's error text with exit status 1.
#
#   tests/install_example_test.sh SOURCE_DIR BUILD_DIR [EXTRA_FLAGS]
#
# EXTRA_FLAGS are compiler and linker flags for the example, for instance the
# sanitizer flags that the installed libraries were built with.
set -euo pipefail
source_dir=$1
build_dir=$2
extra_flags=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
test -f "$work/prefix/include/tarvik/qorimage.h"
test -f "$work/prefix/include/tarvik/status.h"
cmake -S "$source_dir/examples/cpp" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_FLAGS="$extra_flags" -DCMAKE_EXE_LINKER_FLAGS="$extra_flags" >/dev/null
cmake --build "$work/build" >/dev/null
program=$work/build/count_support

out=$("$program" "$source_dir/examples/scene/triplets.txt")
echo "$out"
[[ $out =~ ^[1-9][0-9]*\ supporting\ triplets\ of\ 300$ ]]

set +e
err=$("$program" "$work/missing.txt" 2>&1 >/dev/null)
status=$?
set -e
[ "$status" -eq 1 ]
[ "$err" = "$work/missing.txt: cannot open file" ]

# No library of the install ends the process or prints on its own.
for lib in "$work"/prefix/lib*/*.a; do
  [ -f "$lib" ] || continue
  if nm -u "$lib" | grep -Ew '(exit|_exit|abort|printf|puts|putchar|vprintf|stdout|stderr)$'; then
    echo "$lib refers to a process-ending or printing symbol" >&2
    exit 1
  fi
done
echo "install example: ok"
