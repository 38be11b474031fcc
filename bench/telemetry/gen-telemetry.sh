#!/usr/bin/env bash
# Writes a telemetry-like program with K templates (mnemonics), each sampled every cycle for
# 100000 / K cycles, so every size replaces 100,000 facts in all. Each mnemonic has a sampling
# rule (its fact is modified with the new value each cycle) and an alarm rule (a value above the
# limit counts as an alarm). Prints "RESULT K CYCLES SAMPLES ALARMS".
set -euo pipefail
k=${1:?usage: gen-telemetry.sh TEMPLATES}
awk -v k="$k" 'BEGIN {
    cycles = int(100000 / k)
    printf ";;; Telemetry cycle over %d mnemonics, %d cycles.\n\n", k, cycles
    printf "(deftemplate clock (slot n))\n"
    printf "(defglobal ?*samples* = 0 ?*alarms* = 0)\n\n"
    for (i = 1; i <= k; i++) printf "(deftemplate m%d (slot value) (slot cycle))\n", i
    printf "(deffacts start\n    (cycles %d)\n    (clock (n 0))\n", cycles
    for (i = 1; i <= k; i++) printf "    (m%d (value 0) (cycle 0))\n", i
    printf ")\n\n"
    printf "(defrule tick\n    (declare (salience -10))\n    (cycles ?c)\n"
    printf "    ?t <- (clock (n ?n&:(< ?n ?c)))\n    =>\n    (modify ?t (n (+ ?n 1))))\n\n"
    for (i = 1; i <= k; i++) {
        printf "(defrule sample_%d\n    (clock (n ?n))\n    ?f <- (m%d (cycle ?c&:(< ?c ?n)))\n", i, i
        printf "    =>\n    (bind ?*samples* (+ ?*samples* 1))\n"
        printf "    (modify ?f (value (mod (* (+ ?n %d) 7919) 1000)) (cycle ?n)))\n", i
        printf "(defrule alarm_%d\n    (m%d (value ?v&:(> ?v 900)))\n", i, i
        printf "    =>\n    (bind ?*alarms* (+ ?*alarms* 1)))\n\n"
    }
    printf "(defrule report\n    (declare (salience -20))\n    (cycles ?c)\n    (clock (n ?c))\n"
    printf "    =>\n    (printout t \"RESULT %d \" ?c \" \" ?*samples* \" \" ?*alarms* crlf))\n", k
}'
