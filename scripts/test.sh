#!/usr/bin/env bash
# Builds Tavo and runs every test: the Release suite (unit, window, package
# and benchmark-smoke tests), the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the fuzzers. Installs the Debian packages
# it needs when they are missing. Usage: scripts/test.sh [--quick | --soak]
#   --quick   Release suite only (no sanitizer build, no fuzzing)
#   --soak    the playback soaks only (Release build): the viewer's 60 seconds
#             and the explorer's 10 minutes; they are not part of the other runs
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
mode=all
case "${1:-}" in
  "") ;;
  --quick) mode=quick ;;
  --soak) mode=soak ;;
  *) echo "usage: scripts/test.sh [--quick | --soak]" >&2; exit 2 ;;
esac

# ---- packages -------------------------------------------------------------
source scripts/packages.sh
packages=(cmake "$(build_tool build)" g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
          freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri xvfb xauth imagemagick xdotool gzip
          libcli11-dev python3-pytest python3-vtk9 pybind11-dev python3-dev python3-numpy
          python3-matplotlib)
if [[ $mode == all ]]; then
  packages+=("$(build_tool build-asan)" ninja-build clang libclang-rt-dev)  # sanitizer, fuzzers
fi
# The offscreen renderer: EGL, libpng, FreeType, a font, and ffmpeg for videos.
packages+=(libegl-dev libegl-mesa0 libopengl-dev libpng-dev libfreetype-dev fonts-dejavu-core ffmpeg)
# tavo view: Xlib, to refuse with a message where there is no display.
packages+=(libx11-dev)
# H5MD exports (libhdf5, found with pkg-config), and the programs the
# export tests read them with; ASE and MDAnalysis are also the Python
# module's bridges.
packages+=(libhdf5-dev zlib1g-dev pkgconf python3-h5py python3-ase python3-mdanalysis)
# Compressed movies: zlib and libzstd, and the zstd program for the tests.
packages+=(libzstd-dev zstd)
ensure_packages "${packages[@]}"

jobs=$(nproc)

# Tests and benchmarks write under the build folders or a temporary folder
# only: the working tree must look the same after the suite as before it.
tree_state() { git status --porcelain --untracked-files=all 2>/dev/null || true; }
tree_before=$(tree_state)
check_tree() {
  local after
  after=$(tree_state)
  if [[ "$after" != "$tree_before" ]]; then
    echo "== the suite changed the working tree:" >&2
    diff <(echo "$tree_before") <(echo "$after") >&2 || true
    exit 1
  fi
}

# ---- Release build and suite ---------------------------------------------
echo "== Release build"
soak=OFF
[[ $mode == soak ]] && soak=ON
# Every part forced on: a missing package fails here, naming it.
all_parts=(-DTAVO_BUILD_VIEWER=ON -DTAVO_BUILD_RENDER=ON -DTAVO_BUILD_EXPLORER=ON -DTAVO_BUILD_CLI=ON)
cmake_configure build -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_TESTS=ON -DTAVO_BUILD_BENCH=ON \
                "${all_parts[@]}" -DTAVO_BUILD_PYTHON=ON -DTAVO_SOAK_TESTS=$soak
cmake --build build -j "$jobs"
if [[ $mode == soak ]]; then
  echo "== playback soaks"
  (cd build && ctest --output-on-failure --timeout 900 -L soak)
  exit 0
fi
echo "== Release tests"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 900 -LE soak)
check_tree

[[ $mode == quick ]] && exit 0

# ---- sanitizer build and suite --------------------------------------------
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake_configure build-asan -DCMAKE_BUILD_TYPE=Debug -DTAVO_SANITIZE=address,undefined \
                -DTAVO_BUILD_TESTS=ON -DTAVO_BUILD_BENCH=OFF "${all_parts[@]}"
cmake --build build-asan -j "$jobs"
echo "== sanitizer tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$jobs" --timeout 900 -LE soak)
check_tree

# ---- fuzzers ---------------------------------------------------------------
echo "== fuzzers"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTAVO_BUILD_FUZZERS=ON -DTAVO_SANITIZE=address,undefined -DTAVO_BUILD_TESTS=OFF \
      -DTAVO_BUILD_BENCH=OFF -DTAVO_BUILD_VIEWER=OFF -DTAVO_BUILD_RENDER=OFF -DTAVO_BUILD_EXPLORER=OFF \
      -DTAVO_BUILD_CLI=OFF -DTAVO_BUILD_PYTHON=OFF -DTAVO_READ_BUFFER_BYTES=7 >/dev/null
cmake --build build-fuzz -j "$jobs"
fuzz_seconds=${TAVO_FUZZ_SECONDS:-60}
# One fuzzer per core at a time, each for fuzz_seconds, from its seed corpus.
run_fuzzer() {
  local fuzzer=$1 name corpus seeds args
  name=$(basename "$fuzzer")
  corpus="$root/build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="$root/fuzz/corpus/${name%_fuzzer}"
  args=("$corpus")
  [[ -d "$seeds" ]] && args+=("$seeds")
  (cd build-fuzz && "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
     -max_len=4096 -print_final_stats=1 "${args[@]}" >"$root/build-fuzz/$name.log" 2>&1)
}
declare -A running=()
fuzz_failed=()
reap() {  # waits for one fuzzer to end
  local pid status name
  if wait -n -p pid; then status=0; else status=$?; fi
  name=${running[$pid]:-}
  [[ -n "$name" ]] || return 0
  unset "running[$pid]"
  if ((status == 0)); then
    echo "-- $name for ${fuzz_seconds}s: $(grep -oE "Done [0-9]+ runs" "$root/build-fuzz/$name.log")"
  else
    fuzz_failed+=("$name")
  fi
}
for fuzzer in "$root"/build-fuzz/fuzz/*_fuzzer; do
  while ((${#running[@]} >= jobs)); do reap; done
  run_fuzzer "$fuzzer" &
  running[$!]=$(basename "$fuzzer")
done
while ((${#running[@]} > 0)); do reap; done
for name in "${fuzz_failed[@]}"; do
  tail -n 60 "$root/build-fuzz/$name.log"
  echo "== $name found a fault"
done
((${#fuzz_failed[@]} == 0)) || exit 1
check_tree
echo "== all tests passed"
