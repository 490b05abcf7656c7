#!/bin/sh
# Median of the numbers on standard input, one a line, divided by DIVISOR (default 1), to 3 decimals.
# Usage: median.sh [DIVISOR]
sort -n | awk -v d="${1:-1}" '{ v[NR] = $1 }
  END {
    if (NR == 0) exit 1
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.3f\n", m / d
  }'
