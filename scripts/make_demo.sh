#!/usr/bin/env bash
# Rebuilds the demo shipped in examples/: builds tavocore (Release) and
# installs it into a scratch prefix, builds the example simulator against the
# installed package, runs it on examples/demo.Tavosetup and
# examples/demo.regions with a fixed seed, and writes
#   examples/demo.Tavomovie.gz   the movie, gzip-compressed (scripts/view.sh plays it)
#   examples/demo.population     the population table
#   docs/population.png          its plot (scripts/plot_population.sh)
# Usage: scripts/make_demo.sh [SEED]   (default seed 20261207)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seed=${1:-20261207}
work="$root/build-demo"

echo "== tavocore: build and install into $work/prefix"
cmake -S . -B "$work/tavo" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_TESTS=OFF \
      -DTAVO_BUILD_BENCH=OFF -DTAVO_BUILD_VIEWER=OFF >/dev/null
cmake --build "$work/tavo" -j "$(nproc)"
cmake --install "$work/tavo" --prefix "$work/prefix" >/dev/null

echo "== example simulator: build against the installed package"
cmake -S examples/simulator -B "$work/simulator" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$work/prefix" -DTAVOSIM_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/simulator" -j "$(nproc)"

echo "== run (seed $seed)"
mkdir -p "$work/run"
cd "$work/run"  # the library's errors.txt lands here, not in examples/
rm -f inverse3DGaussian.function  # the library's built-in table
"$work/simulator/tavosim" --seed "$seed" --movie demo.Tavomovie --population demo.population \
    "$root/examples/demo.Tavosetup" "$root/examples/demo.regions" | grep -E "^(Random seed|Forward|Seed|Moves)"
gzip -9 -n -c demo.Tavomovie >"$root/examples/demo.Tavomovie.gz"
cp demo.population "$root/examples/demo.population"
cd "$root"
ls -l examples/demo.Tavomovie.gz examples/demo.population
scripts/plot_population.sh examples/demo.population docs/population.png
