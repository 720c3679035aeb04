#!/usr/bin/env bash
# Triplet count and share correct (ground truth: optimal triangulation with
# the true cameras, below 2 px in all three views) of the matcher before this
# change (commit 5207f5a) and now, with and without --check13, on render
# folders made by bench/eval/make_renders.sh.
#
#   bench/eval/compare_matchers.sh FOLDER...
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git -C "$top" show 5207f5a:tools/match_triplets.py > "$work/old_matcher.py"
for d in "$@"; do
  views=("$d/view1.png" "$d/view2.png" "$d/view3.png")
  for variant in old new new-check13; do
    case $variant in
      old) $py "$work/old_matcher.py" "${views[@]}" -o "$work/t.txt" > /dev/null ;;
      new) $py "$top/tools/match_triplets.py" "${views[@]}" -o "$work/t.txt" > /dev/null ;;
      new-check13) $py "$top/tools/match_triplets.py" "${views[@]}" -o "$work/t.txt" --check13 > /dev/null ;;
    esac
    printf '%-12s %-12s ' "$(basename "$d")" "$variant"
    $py "$top/tools/ground_truth.py" "$d/cameras.txt" "$work/t.txt"
  done
done
