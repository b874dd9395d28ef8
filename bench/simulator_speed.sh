#!/usr/bin/env bash
# Steps per second of the example simulator at 10^4 and 10^5 live molecules:
# the demo's chemistry and density, scaled to the molecule count (sphere
# radius 2e-6 m * (n/1200)^(1/3), shell thickness 0.3e-6 m scaled alike;
# 75 % S and 25 % E at the start). Only the first and last states are
# written, so the figure is that of the stepping loop.
# Usage: bench/simulator_speed.sh TAVOSIM [GAUSSIAN_TABLE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tavosim=$(realpath "$1")
table=$(realpath "${2:-$root/data/inverse3DGaussian.function}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$table" inverse3DGaussian.function
for run in "10000 200" "100000 40"; do
  read -r n steps <<<"$run"
  s=$((n * 3 / 4))
  e=$((n / 4))
  cat >setup <<SETUP
N_species 4
specie S 0 1.0 4.0e-9 2.0e-11 $((2 * n)) $s 0
specie E 1 5.0 8.0e-9 1.0e-12 $e $e 1
specie ES 2 6.0 9.0e-9 1.0e-12 $e 0 1
specie P 3 1.0 4.0e-9 2.0e-11 $((2 * n)) 0 0
N_fwd 1 ;
N_rev 2 ;
rev_max_mol 2 ;
f 0 + 1 = 2 ; kf 1.6e-17 ;
r 2 = 1 + 3 ; kr 150.0 ;
r 3 = 0 ; kr 20.0 ;
temperature(K) 310.0
viscosity 1.0
pH 7.2
total_step $steps
time_step(s) 1.0e-4
SETUP
  read -r outer inner < <(awk -v n="$n" 'BEGIN { f = (n / 1200) ^ (1 / 3);
    printf "%.6e %.6e\n", 2e-6 * f, (2e-6 - 0.3e-6) * f }')
  printf 'N_regions 2\n0 sphere ( 0 0 0 ) ( %s )\n1 sphereshell ( 0 0 0 ) ( %s %s )\n' \
    "$outer" "$inner" "$outer" >regions
  echo "== $n molecules, $steps steps"
  "$tavosim" --quiet --seed 1 --every 1000000 setup regions | grep -i "steps per second\|steps/s" || true
done
