#!/usr/bin/env bash
# Speed of tavo view's explorer in a virtual X server (software OpenGL), from
# the program explorer_harness (bench/explorerHarness.cpp):
#   - sustained playback at 10^5 and 10^6 molecules against a frame read
#     alone and a frame drawn alone, measured in the same run;
#   - jumps to frames all over a 1000-frame movie of 10^5 molecules, back to
#     back against one frame time plus one frame read, and 0.2 s apart also
#     against a redraw 0.2 s apart plus one frame read;
#   - with --open GB, how soon a movie of about GB gigabytes shows its first
#     frame, and how long its index takes (the movie is written first).
# Usage: bench/explorer_speed.sh [BUILD_DIR] [SECONDS] [--open GB]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
seconds=${2:-8}
open_gb=""
[[ "${3:-}" == "--open" ]] && open_gb=${4:-10}
harness="$build/bench/explorer_harness"
[[ -x $harness ]] || cmake --build "$build" --target explorer_harness
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
run() { xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$harness" "$@" 2>/dev/null; }
run play 100000 "$seconds"
run play 1000000 "$seconds"
run jump 100000 1000
if [[ -n $open_gb ]]; then
  run open 100000 "$open_gb"
fi
