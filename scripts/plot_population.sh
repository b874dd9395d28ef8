#!/usr/bin/env bash
# Plots a population table (as the simulator writes it with createData_toFile:
# tab-separated, a "step:" header with the species names, one row per
# recorded step) into a PNG with gnuplot. Installs the Debian package
# gnuplot-nox when gnuplot is missing.
# Usage: scripts/plot_population.sh [TABLE [PNG [TIME_STEP]]]
#   TABLE      population table (default examples/demo.population)
#   PNG        image to write (default docs/population.png)
#   TIME_STEP  seconds per step; the x axis shows milliseconds when given
#              (default: read time_step(s) from examples/demo.Tavosetup when
#              TABLE is the demo's table, else steps)
set -euo pipefail
cd "$(dirname "$0")/.."
table=${1:-examples/demo.population}
png=${2:-docs/population.png}
timestep=${3:-}
if [[ -z "$timestep" && "$table" == examples/demo.population ]]; then
  timestep=$(awk '$1 == "time_step(s)" { print $2 }' examples/demo.Tavosetup)
fi

if ! command -v gnuplot >/dev/null; then
  source scripts/packages.sh
  ensure_packages gnuplot-nox
fi

[[ -r "$table" ]] || { echo "plot_population.sh: cannot read $table" >&2; exit 1; }
# Species columns: the header's fields after "step:" (the line ends in a tab).
columns=$(awk -F'\t' 'NR == 1 { n = 0; for (i = 2; i <= NF; i++) if ($i != "") n++; print n + 1; exit }' "$table")
(( columns >= 2 )) || { echo "plot_population.sh: $table has no species columns" >&2; exit 1; }
mkdir -p "$(dirname "$png")"

if [[ -n "$timestep" ]]; then
  xexpr="(\$1 * $timestep * 1000)"
  xlabel="time (ms)"
else
  xexpr="1"
  xlabel="step"
fi

gnuplot <<GNUPLOT
set terminal pngcairo size 900,540 enhanced font "DejaVu Sans,12" noenhanced
set output "$png"
set datafile separator "\t"
set key outside right top title "species"
set grid lc rgb "#dddddd"
set border lc rgb "#444444"
set xlabel "$xlabel"
set ylabel "live molecules"
set title "Population of $(basename "$table")"
plot for [i=2:$columns] "$table" using $xexpr:i with lines lw 2 title columnheader(i)
GNUPLOT
echo "wrote $png"
