#!/usr/bin/env bash
# Writes a random directed graph of N nodes with 3 edges leaving each node (to distinct other
# nodes) as a deffacts of (edge A B) facts, plus (nodes N). The draw is a fixed Lehmer generator,
# so the same N always gives the same graph.
set -euo pipefail
n=${1:?usage: gen-graph.sh N}
awk -v n="$n" 'BEGIN {
    seed = 4242
    printf "(deffacts graph\n    (nodes %d)\n", n
    for (i = 1; i <= n; i++) {
        split("", used)
        for (k = 0; k < 3; k++) {
            do { seed = (seed * 16807) % 2147483647; j = seed % n + 1 } while (j == i || (j in used))
            used[j] = 1
            printf "    (edge %d %d)\n", i, j
        }
    }
    printf ")\n"
}'
