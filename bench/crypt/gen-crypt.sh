#!/usr/bin/env bash
# Writes the input of the cryptarithmetic program in base B: the global ?*base* and the digits.
set -euo pipefail
b=${1:?usage: gen-crypt.sh BASE}
awk -v b="$b" 'BEGIN {
    printf "(defglobal ?*base* = %d)\n(deffacts digits\n", b
    for (d = 0; d < b; d++) printf "    (digit %d)\n", d
    printf ")\n"
}'
