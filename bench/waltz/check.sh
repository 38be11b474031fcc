#!/usr/bin/env bash
# Checks a Waltz result: DRAWING is the file gen-waltz.sh wrote, OUTPUT what the rules printed
# ("edge P1 P2 LABEL" per directed edge). Every line must be labelled in both directions, the
# two directions must agree (+ and - stay, > and < turn round), every junction's labels must be
# a labelling of the junction catalogue, and the drawing of N regions must come out with 6N
# convex and 24N occluding edge directions. Junctions are typed here on their own, from the
# coordinates. Prints "ok N" or the first fault, and exits non-zero on a fault.
set -euo pipefail
drawing=${1:?usage: check.sh DRAWING OUTPUT}
output=${2:?usage: check.sh DRAWING OUTPUT}
awk '
function fail(msg) { print msg; bad = 1; exit 1 }
{ sub(/\r$/, "") }   # the engine ends printed lines with CR LF
function inverse(l) { return l == ">" ? "<" : (l == "<" ? ">" : l) }
# Direction of the edge p -> q in hundredths of a degree, [0, 36000).
function angle(p, q,    a) {
    a = atan2(y[q] - y[p], x[q] - x[p]) * 18000 / 3.14159265358979324
    a = int(a < 0 ? a - 0.5 : a + 0.5)
    return a < 0 ? a + 36000 : a
}
FNR == NR {
    if (match($0, /\(point \(id [0-9]+\) \(x -?[0-9]+\) \(y -?[0-9]+\)\)/)) {
        split(substr($0, RSTART, RLENGTH), w, /[() ]+/)
        x[w[4]] = w[6] + 0; y[w[4]] = w[8] + 0; npoints++
    } else if (match($0, /\(line \(p1 [0-9]+\) \(p2 [0-9]+\)\)/)) {
        split(substr($0, RSTART, RLENGTH), w, /[() ]+/)
        a = w[4]; b = w[6]; lines++
        want[a, b] = 1; want[b, a] = 1
        arms[a] = arms[a] " " b; arms[b] = arms[b] " " a
    }
    next
}
$1 == "edge" && NF == 4 {
    if (!(($2, $3) in want)) fail("edge " $2 " " $3 " is not in the drawing")
    if (($2, $3) in label) fail("edge " $2 " " $3 " printed twice")
    if ($4 != "+" && $4 != "-" && $4 != ">" && $4 != "<") fail("edge " $2 " " $3 " labelled " $4)
    label[$2, $3] = $4; printed++; count[$4]++
}
END {
    if (bad) exit 1
    if (lines == 0) fail("no lines in the drawing")
    for (k in want) if (!(k in label)) { split(k, e, SUBSEP); fail("edge " e[1] " " e[2] " not labelled") }
    for (k in label) {
        split(k, e, SUBSEP)
        if (label[e[2], e[1]] != inverse(label[k]))
            fail("edge " e[1] " " e[2] " is " label[k] " but its reverse is " label[e[2], e[1]])
    }
    # The catalogue, each labelling in counterclockwise order (L: from the first arm across the
    # angle below 180 degrees; arrow: barb shaft barb; tee: bar stem bar; fork: any rotation).
    split("<> >< -> <- +< >+", cat, " "); for (i in cat) ok["L", cat[i]] = 1
    split("<+> +-+ -+-", cat, " "); for (i in cat) ok["arrow", cat[i]] = 1
    split("+++ --- ->< <-> ><-", cat, " ")
    for (i in cat) { c = cat[i]; for (r = 0; r < 3; r++) { ok["fork", c] = 1; c = substr(c, 2) substr(c, 1, 1) } }
    split(">+< >-< >>< ><<", cat, " "); for (i in cat) ok["tee", cat[i]] = 1
    for (p in arms) {
        m = split(substr(arms[p], 2), q, " ")
        for (i = 1; i <= m; i++) an[i] = angle(p, q[i])
        for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++)   # sort counterclockwise
            if (an[j] < an[i]) { t = an[i]; an[i] = an[j]; an[j] = t; t = q[i]; q[i] = q[j]; q[j] = t }
        if (m == 2) {
            type = "L"; o = (an[2] - an[1] < 18000) ? q[1] " " q[2] : q[2] " " q[1]
        } else if (m == 3) {
            g[1] = an[2] - an[1]; g[2] = an[3] - an[2]; g[3] = 36000 - (an[3] - an[1])
            type = "fork"; first = 1
            for (i = 1; i <= 3; i++) if (g[i] == 18000) { type = "tee"; first = i % 3 + 1 }
            if (type == "fork") for (i = 1; i <= 3; i++) if (g[i] > 18000) { type = "arrow"; first = i % 3 + 1 }
            o = q[first] " " q[first % 3 + 1] " " q[(first + 1) % 3 + 1]
        } else fail("point " p " has " m " lines")
        n = split(o, oq, " "); s = ""
        for (i = 1; i <= n; i++) s = s label[p, oq[i]]
        if (!((type, s) in ok)) fail(type " junction " p " labelled " s)
        types[type]++
    }
    regions = lines / 15
    if (printed != 30 * regions) fail("printed " printed " labelled edges, expected " 30 * regions)
    if (count["+"] != 6 * regions || count[">"] != 12 * regions || count["<"] != 12 * regions || count["-"] != 0)
        fail("labels + " count["+"] " > " count[">"] " < " count["<"] " - " count["-"] ", expected + " 6 * regions " > " 12 * regions " < " 12 * regions)
    if (types["L"] != 6 * regions || types["arrow"] != 3 * regions || types["fork"] != regions || types["tee"] != 2 * regions)
        fail("junction types do not match the drawing")
    print "ok " regions
}' "$drawing" "$output"
