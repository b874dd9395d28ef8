#!/usr/bin/env bash
# Opens the Tavomovie viewer on the shipped demo (the example simulator's run
# of examples/demo.Tavosetup; scripts/make_demo.sh rebuilds it). Installs the
# Debian packages the viewer needs when they are missing, builds the viewer
# alone (Release, in build-view/, no tests or benchmarks) and starts it.
# Where there is no usable display it runs the viewer in a virtual X server
# for a few seconds instead, saves a PNG screenshot, prints its path and ends
# the viewer. The viewer's errors.txt and log are in out/.
# Usage: scripts/view.sh [SETUP MOVIE]   (default: the demo in examples/)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
if (($# != 0 && $# != 2)); then
  echo "usage: scripts/view.sh [SETUP MOVIE]" >&2
  exit 2
fi

# ---- packages -------------------------------------------------------------
source scripts/packages.sh
build="$root/build-view"
ensure_packages cmake "$(build_tool "$build")" g++ freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri \
                x11-utils gzip
display=0
[[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1 && display=1
((display)) || ensure_packages xvfb xauth xdotool imagemagick

# ---- build ------------------------------------------------------------------
echo "== building the viewer (Release, build-view/)"
cmake_configure "$build" -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_TESTS=OFF -DTAVO_BUILD_BENCH=OFF \
                -DTAVO_BUILD_VIEWER=ON
cmake --build "$build" --target Tavomovie -j "$(nproc)"
viewer="$build/viewer/Tavomovie"

# ---- data -------------------------------------------------------------------
if (($# == 2)); then
  setup=$(realpath "$1")
  movie=$(realpath "$2")
else
  setup="$root/examples/demo.Tavosetup"
  movie="$build/demo.Tavomovie"
  if [[ ! -s "$movie" || "$root/examples/demo.Tavomovie.gz" -nt "$movie" ]]; then
    gzip -dc "$root/examples/demo.Tavomovie.gz" >"$movie"
  fi
fi
# The viewer appends to errors.txt in its working directory: start afresh.
run_dir="$root/out"
shot="$run_dir/screenshot.png"
mkdir -p "$run_dir"
cd "$run_dir"
rm -f errors.txt viewer.log "$shot"

# Shows what the viewer reported, if anything; true when it reported an error.
show_errors() {
  if [[ -s errors.txt ]]; then
    echo "Tavomovie reported an error ($run_dir/errors.txt):"
    cat errors.txt
    return 0
  fi
  return 1
}

# ---- a display at hand: open the window --------------------------------------
if ((display)); then
  echo "== Tavomovie on $DISPLAY (keys: arrows, a/z zoom, p pause, n next step, 0 rewind, Esc quit)"
  status=0
  "$viewer" "$setup" "$movie" >viewer.log 2>&1 || status=$?
  if ((status != 0)); then
    show_errors || tail -n 20 viewer.log
    echo "Tavomovie ended with status $status"
    exit "$status"
  fi
  exit 0
fi

# ---- no display: a virtual one, a screenshot, done ---------------------------
echo "== no usable display: running the viewer in Xvfb for a few seconds"
cat >shot.sh <<'INNER'
#!/usr/bin/env bash
set -u
viewer=$1 setup=$2 movie=$3 shot=$4
xdotool mousemove 1020 760 >/dev/null 2>&1  # keep the pointer off the window
"$viewer" "$setup" "$movie" >viewer.log 2>&1 &
pid=$!
window=""
for _ in $(seq 100); do
  window=$(xdotool search --name '^Reaction Movie$' 2>/dev/null | head -n 1) && [[ -n $window ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [[ -z $window ]]; then
  wait "$pid"
  echo "Tavomovie ended with status $? before its window appeared"
  exit 1
fi
sleep 4
import -window "$window" "$shot" || echo "the screenshot failed"
xdotool key --window "$window" Escape >/dev/null 2>&1
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exit 0
INNER
status=0
xvfb-run -a -s "-screen 0 1024x768x24" bash shot.sh "$viewer" "$setup" "$movie" "$shot" || status=$?
failed=0
show_errors && failed=1
((status == 0)) || failed=1
if [[ -s $shot ]]; then
  echo "screenshot: $shot"
else
  echo "no screenshot taken"
  failed=1
fi
if ((failed)) && [[ ! -s errors.txt && -s viewer.log ]]; then
  echo "viewer output ($run_dir/viewer.log):"
  tail -n 20 viewer.log
fi
exit "$failed"
