#!/usr/bin/env bash
# Writes the input of the growing-split program: the length m1 grows to.
set -euo pipefail
l=${1:?usage: gen-split.sh LIMIT}
printf '(deffacts limit\n    (limit %d))\n' "$l"
