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
# Compressed movies: zlib and libzstd, and the zstd program for the tests.
packages+=(zlib1g-dev libzstd-dev zstd)
ensure_packages "${packages[@]}"

jobs=$(nproc)

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

# ---- fuzzers ---------------------------------------------------------------
echo "== fuzzers"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTAVO_BUILD_FUZZERS=ON -DTAVO_SANITIZE=address,undefined -DTAVO_BUILD_TESTS=OFF \
      -DTAVO_BUILD_BENCH=OFF -DTAVO_BUILD_VIEWER=OFF -DTAVO_BUILD_RENDER=OFF -DTAVO_BUILD_EXPLORER=OFF \
      -DTAVO_BUILD_CLI=OFF -DTAVO_BUILD_PYTHON=OFF -DTAVO_READ_BUFFER_BYTES=7 >/dev/null
cmake --build build-fuzz -j "$jobs"
fuzz_seconds=${TAVO_FUZZ_SECONDS:-60}
for fuzzer in "$root"/build-fuzz/fuzz/*_fuzzer; do
  name=$(basename "$fuzzer")
  corpus="$root/build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="$root/fuzz/corpus/${name%_fuzzer}"
  echo "-- $name for ${fuzz_seconds}s"
  args=("$corpus")
  [[ -d "$seeds" ]] && args+=("$seeds")
  log="$root/build-fuzz/$name.log"
  if ! (cd build-fuzz && "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 "${args[@]}" >"$log" 2>&1); then
    tail -n 60 "$log"
    echo "== $name found a fault"
    exit 1
  fi
  grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$log" | tail -n 2
done
echo "== all tests passed"
