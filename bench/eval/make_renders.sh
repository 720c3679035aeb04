#!/usr/bin/env bash
# Renders the evaluation data: three views of each of three scenes of
# Debian's povray-examples from cameras placed here, with their true
# projection matrices, and matches them with tools/match_triplets.py.
# Each folder holds view1.png view2.png view3.png, cameras.txt, triplets.txt.
#
#   bench/eval/make_renders.sh [output folder (default build/renders)] [W H (default 1024 768)]
#
# Takes a few minutes on one core (POV-Ray renders without jitter, so the
# images are the same every run).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
out=${1:-$top/build/renders}
w=${2:-1024}
h=${3:-768}
scenes=/usr/share/povray-3.7/scenes/advanced
render() {
  /usr/bin/python3 "$top/tools/render_povray.py" "$@" --size "$w" "$h" --match
}
# A wooden box of marbles on a wooden floor: low contrast, reflections.
render "$scenes/woodbox.pov" "$out/woodbox" --at -5 10 -15 --look 0 0 0 --angle 45 --baseline 0.8 0 0.3
# A brick wall with patches of stucco, seen at a slant.
render "$scenes/wallstucco.pov" "$out/wallstucco" --at 3 1 -22 --look 0 0 0 --angle 65 --baseline 1.5 0.2 0
# A floor of patterned tiles seen from above, the cameras moving sideways.
render "$scenes/whiltile.pov" "$out/whiltile" --at 0 22 -24 --look 0 0 0 --angle 35 --baseline 1.5 0 0.5
