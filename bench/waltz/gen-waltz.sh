#!/usr/bin/env bash
# Writes the drawing of a Waltz problem with N regions as a deffacts of points and lines.
# Every region is the same scene at its own place and scale: a cube standing in front of a
# panel, so that the panel's edges run behind the cube and end in tees on the cube's outline:
#
#        R1 +-------------------+ R2          points (before scaling and shifting):
#           |                   |             a(0,0) b(4,0) c(4,4) d(0,4) e(2,6) f(6,6) g(6,2)
#      e +--+t2------+ f        |             t1(6,3) t2(3,6) R1(3,9) R2(10,9) R3(10,3)
#       /   :       /|          |
#    d +----:----+ c |          |             15 lines, 12 junctions: 6 L, 3 arrows (b, d, f),
#      |    :    |   + t1 ------+ R3          1 fork (c), 2 tees (t1, t2)
#      |         |  /
#    a +---------+ b + g
#
# Region k (1..N) is scaled by 1 + (k mod 3) and shifted 40 * k to the right; its point
# identifiers are 100 * k + 1 .. 100 * k + 12. The order of the lines is a fixed Lehmer shuffle,
# so the same N always gives the same file on every machine.
set -euo pipefail
n=${1:?usage: gen-waltz.sh N}
awk -v n="$n" 'BEGIN {
    split("0 4 4 0 2 6 6 6 3 3 10 10", px, " ")
    split("0 0 4 4 6 6 2 3 6 9 9 3", py, " ")
    split("1 2 3 4 4 5 9 6 8 7 6 9 10 11 12", la, " ")
    split("2 3 4 1 5 9 6 8 7 2 3 10 11 12 8", lb, " ")
    printf "(deffacts drawing\n"
    printf "    (stage (name start))\n"
    m = 0
    for (k = 1; k <= n; k++) {
        s = 1 + (k % 3)
        for (i = 1; i <= 12; i++)
            printf "    (point (id %d) (x %d) (y %d))\n", 100 * k + i, 40 * k + s * px[i], s * py[i]
        for (i = 1; i <= 15; i++) { m++; ea[m] = 100 * k + la[i]; eb[m] = 100 * k + lb[i] }
    }
    seed = 4711
    for (i = m; i > 1; i--) {
        seed = (seed * 16807) % 2147483647
        j = 1 + seed % i
        t = ea[i]; ea[i] = ea[j]; ea[j] = t
        t = eb[i]; eb[i] = eb[j]; eb[j] = t
    }
    for (i = 1; i <= m; i++) printf "    (line (p1 %d) (p2 %d))\n", ea[i], eb[i]
    printf ")\n"
}'
