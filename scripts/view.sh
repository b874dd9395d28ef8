#!/usr/bin/env bash
# Opens the Tavomovie viewer on the shipped demo (the example simulator's run
# of examples/demo.Tavosetup; scripts/make_demo.sh rebuilds it). Installs the Debian
# packages it needs when they are missing, builds (Release, in build/) and
# starts the viewer. Where there is no usable display it runs the viewer in a
# virtual X server for a few seconds instead, saves a PNG screenshot, prints
# its path and ends the viewer.
# Usage: scripts/view.sh [SETUP MOVIE]   (default: the demo in examples/)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# ---- packages -------------------------------------------------------------
source scripts/packages.sh
ensure_packages cmake ninja-build g++ freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri xvfb xauth \
                x11-utils xdotool imagemagick gzip googletest libgtest-dev libbenchmark-dev

# ---- build ------------------------------------------------------------------
echo "== building the viewer (Release, build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target Tavomovie -j "$(nproc)"
viewer="$root/build/viewer/Tavomovie"

# ---- data -------------------------------------------------------------------
if (($# == 2)); then
  setup=$(realpath "$1")
  movie=$(realpath "$2")
else
  setup="$root/examples/demo.Tavosetup"
  movie="$root/build/demo.Tavomovie"
  if [[ ! -s "$movie" || "$root/examples/demo.Tavomovie.gz" -nt "$movie" ]]; then
    gzip -dc "$root/examples/demo.Tavomovie.gz" >"$movie"
  fi
fi
# The viewer writes errors.txt into its working directory.
run_dir="$root/out"
mkdir -p "$run_dir"
cd "$run_dir"

# ---- a display at hand: open the window --------------------------------------
if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
  echo "== Tavomovie on $DISPLAY (keys: arrows, a/z zoom, p pause, n next step, 0 rewind, Esc quit)"
  status=0
  "$viewer" "$setup" "$movie" >"$run_dir/viewer.log" || status=$?
  ((status == 0)) || { echo "Tavomovie ended with status $status; see $run_dir/errors.txt"; exit "$status"; }
  exit 0
fi

# ---- no display: a virtual one, a screenshot, done ---------------------------
shot="$root/out/screenshot.png"
echo "== no usable display: running the viewer in Xvfb for a few seconds"
cat >"$run_dir/shot.sh" <<'INNER'
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
  wait "$pid"; echo "Tavomovie ended with status $? before its window appeared"; exit 1
fi
sleep 4
import -window "$window" "$shot"
xdotool key --window "$window" Escape >/dev/null 2>&1
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exit 0
INNER
xvfb-run -a -s "-screen 0 1024x768x24" bash "$run_dir/shot.sh" "$viewer" "$setup" "$movie" "$shot"
if [[ -s "$run_dir/errors.txt" ]]; then
  echo "Tavomovie reported an error:"; cat "$run_dir/errors.txt"; exit 1
fi
echo "screenshot: $shot"
