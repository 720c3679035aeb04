#!/usr/bin/env bash
# Builds the toolkit and runs its three programs on the bundled example data.
# The inputs are copied to demo-output/ first, because every program writes
# its results next to its input file.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
echo "== building (build-demo/)"
cmake -S . -B build-demo -DQOR_TESTS=OFF >/dev/null
cmake --build build-demo -j"$jobs" >/dev/null
bin=$(pwd)/build-demo/bin
out=demo-output
rm -rf "$out"
mkdir -p "$out/scene" "$out/sequence"
cp examples/scene/view1.jpg examples/scene/view2.jpg examples/scene/view3.jpg \
   examples/scene/triplets.txt examples/scene/pairs.txt "$out/scene/"
cp examples/sequence/*.txt "$out/sequence/"
lines() { wc -l < "$1" | tr -d ' '; }

echo
echo "== pelmix: disparity-gradient filter of scene/pairs.txt"
(cd "$out/scene" && "$bin/pelmix" -f pairs.txt -z > pelmix.log 2>&1)
tail -n 2 "$out/scene/pelmix.log"

echo
echo "== ostrel: trifocal tensor of scene/triplets.txt, drawn on view1.jpg and view2.jpg"
(cd "$out/scene" && "$bin/ostrel" -f triplets.txt -d 2 -i view1.jpg -j view2.jpg -k view3.jpg \
   > ostrel.log 2>&1)
grep -E 'final actual matches|Average distance' "$out/scene/ostrel.log" | tail -n 3

echo
echo "== vandrel: tracks through the six-image sequence"
(cd "$out/sequence" && "$bin/vandrel" -p img -o .txt -s 1 -e 6 -f tracks.txt > vandrel.log 2>&1)

echo
echo "Results (logs of each run beside them):"
echo "  $out/scene/pairs.txt.filtered        $(lines "$out/scene/pairs.txt.filtered") of $(lines "$out/scene/pairs.txt") pairs kept (also .L.filtered, .R.filtered)"
echo "  $out/scene/triplets.txt.TM           the trifocal tensor"
echo "  $out/scene/triplets.txt.TM.matches   $(lines "$out/scene/triplets.txt.TM.matches") of $(lines "$out/scene/triplets.txt") triplets kept"
for f in "$out"/scene/*.matches.TM.jpg; do
  [ -e "$f" ] && echo "  $f   supporting matches drawn in red"
done
echo "  $out/sequence/tracks.txt             $(grep -c '^mp' "$out/sequence/tracks.txt" || true) mp lines (point tracks)"
