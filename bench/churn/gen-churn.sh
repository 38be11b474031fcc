#!/usr/bin/env bash
# Writes the facts of a churn run of R rounds over a window of 500 items in 37 buckets.
set -euo pipefail
r=${1:?usage: gen-churn.sh ROUNDS}
awk -v r="$r" 'BEGIN {
    printf "(deffacts churn\n    (rounds %d)\n    (window 500)\n    (clock (n 0))\n", r
    for (b = 0; b < 37; b++) printf "    (bucket (b %d) (total 0) (items 0))\n", b
    printf ")\n"
}'
