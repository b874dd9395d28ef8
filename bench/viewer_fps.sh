#!/usr/bin/env bash
# Frames per second of the viewer's playback in a virtual X server (software
# OpenGL) at 10^4, 10^5 and 10^6 molecules, with the time per frame spent
# reading the movie and drawing given apart.
# Usage: bench/viewer_fps.sh [BUILD_DIR] [SECONDS_PER_SIZE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
seconds=${2:-10}
harness="$build/tests/viewer/viewer_harness"
[[ -x $harness ]] || cmake --build "$build" --target viewer_harness
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for n in 10000 100000 1000000; do
  xvfb-run -a -s "-screen 0 1024x768x24" "$harness" fps "$n" "$seconds" | grep '^molecules'
done
