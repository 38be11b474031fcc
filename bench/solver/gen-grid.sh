#!/usr/bin/env bash
# Writes a sudoku-style puzzle of N = B x B (B = 3, 4, 5, ...; the argument is N): a solution
# made by shifting rows, with about 50 in every 100 cells emptied by a fixed pseudo-random
# sequence. An empty cell gets one (possible) fact per value.
set -euo pipefail
n=${1:?usage: gen-grid.sh N}
awk -v n="$n" 'BEGIN {
    b = int(sqrt(n) + 0.5)
    if (b * b != n) { print "gen-grid.sh: N must be a square" > "/dev/stderr"; exit 2 }
    seed = 12345
    printf "(deffacts grid\n    (size %d)\n", n
    for (r = 0; r < n; r++)
        for (c = 0; c < n; c++) {
            v = ((r % b) * b + int(r / b) + c) % n + 1
            box = int(r / b) * b + int(c / b)
            seed = (seed * 1103515245 + 12345) % 2147483648
            if (int(seed / 65536) % 100 < 50)
                for (k = 1; k <= n; k++)
                    printf "    (possible (row %d) (col %d) (box %d) (value %d))\n", r, c, box, k
            else
                printf "    (cell (row %d) (col %d) (box %d) (value %d))\n", r, c, box, v
        }
    printf ")\n"
}'
