#!/usr/bin/env bash
# Writes a program of R rules whose patterns differ only in one constant: rule K matches
# (oav (o ?o) (a a) (v K)) and modifies v to K + 1, so each of the 1,000 objects (v 0 at the
# start) walks through every rule in turn and the run makes R x 1,000 firings. Every fact change
# reaches the patterns of all R rules; only one of them tests the value the fact holds.
# Prints "RESULT R OBJECTS FIRINGS SUM": the rule count, the objects, the firings of the walking
# rules and the sum of v over the objects at the end (R x OBJECTS).
set -euo pipefail
r=${1:?usage: gen-rulecount.sh RULES}
awk -v r="$r" 'BEGIN {
    objects = 1000
    printf ";;; %d rules differing in one constant, %d objects.\n\n", r, objects
    printf "(deftemplate oav (slot o) (slot a) (slot v))\n"
    printf "(defglobal ?*fired* = 0 ?*sum* = 0)\n\n"
    printf "(deffacts objects\n"
    for (i = 1; i <= objects; i++) printf "    (oav (o %d) (a a) (v 0))\n", i
    printf ")\n\n"
    for (k = 0; k < r; k++) {
        printf "(defrule step_%d\n    ?f <- (oav (o ?o) (a a) (v %d))\n    =>\n", k, k
        printf "    (bind ?*fired* (+ ?*fired* 1))\n    (modify ?f (v %d)))\n", k + 1
    }
    printf "\n(defrule sum\n    (declare (salience -10))\n    (oav (v ?v))\n    =>\n"
    printf "    (bind ?*sum* (+ ?*sum* ?v)))\n\n"
    printf "(defrule report\n    (declare (salience -20))\n    =>\n"
    printf "    (printout t \"RESULT %d %d \" ?*fired* \" \" ?*sum* crlf))\n", r, objects
}'
