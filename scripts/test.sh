#!/usr/bin/env bash
# Builds Tavo and runs every test: the Release suite (unit, window, package
# and benchmark-smoke tests), the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the fuzzers. Installs the Debian packages
# it needs when they are missing. Usage: scripts/test.sh [--quick]
#   --quick   Release suite only (no sanitizer build, no fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
quick=0
[[ "${1:-}" == "--quick" ]] && quick=1

# ---- packages -------------------------------------------------------------
source scripts/packages.sh
ensure_packages cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev \
                libbenchmark-dev freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri xvfb xauth \
                x11-apps imagemagick xdotool gzip libcli11-dev python3-pytest python3-vtk9 libx11-dev

jobs=$(nproc)

# ---- Release build and suite ---------------------------------------------
echo "== Release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_TESTS=ON \
      -DTAVO_BUILD_BENCH=ON -DTAVO_BUILD_VIEWER=ON >/dev/null
cmake --build build -j "$jobs"
echo "== Release tests"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 900)

((quick)) && exit 0

# ---- sanitizer build and suite --------------------------------------------
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVO_SANITIZE=address,undefined \
      -DTAVO_BUILD_TESTS=ON -DTAVO_BUILD_BENCH=OFF -DTAVO_BUILD_VIEWER=ON >/dev/null
cmake --build build-asan -j "$jobs"
echo "== sanitizer tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$jobs" --timeout 900 -LE soak)

# ---- fuzzers ---------------------------------------------------------------
echo "== fuzzers"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTAVO_BUILD_FUZZERS=ON -DTAVO_SANITIZE=address,undefined -DTAVO_BUILD_TESTS=OFF \
      -DTAVO_BUILD_BENCH=OFF -DTAVO_BUILD_VIEWER=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"
fuzz_seconds=${TAVO_FUZZ_SECONDS:-30}
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
