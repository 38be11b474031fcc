#!/usr/bin/env bash
# Writes the facts of an N-queens problem: (size N) and one (column (c C)) per column.
set -euo pipefail
n=${1:?usage: gen-queens.sh N}
awk -v n="$n" 'BEGIN {
    printf "(deffacts board\n    (size %d)\n", n
    for (c = 1; c <= n; c++) printf "    (column (c %d))\n", c
    printf ")\n"
}'
