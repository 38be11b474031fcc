#!/usr/bin/env bash
# Writes the guest facts of a Miss Manners problem with N guests (N even) as a deffacts.
# Half the guests are male, half female; each has two or three of three hobbies, so any two
# guests share a hobby and a seating always exists. The draw is a fixed Lehmer generator, so
# the same N always gives the same guests on every machine.
set -euo pipefail
n=${1:?usage: gen-guests.sh N}
awk -v n="$n" 'BEGIN {
    seed = 12345
    printf "(deffacts guests\n"
    for (i = 1; i <= n; i++) {
        sex = (i % 2 == 1) ? "m" : "f"
        seed = (seed * 16807) % 2147483647
        skip = seed % 4            # 0: all three hobbies, 1..3: all but that one
        for (h = 1; h <= 3; h++)
            if (h != skip)
                printf "    (guest (name n%d) (sex %s) (hobby h%d))\n", i, sex, h
    }
    printf "    (last_seat (seat %d))\n", n
    printf "    (count (c 1))\n"
    printf "    (context (state start)))\n"
}'
