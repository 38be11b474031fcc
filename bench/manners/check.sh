#!/usr/bin/env bash
# Checks a Miss Manners result: GUESTS is the file gen-guests.sh wrote, OUTPUT what the rules
# printed. Every seat 1..N holds a different guest, and neighbours are of opposite sex and share
# a hobby. Prints "ok N" or the first fault, and exits non-zero on a fault.
set -euo pipefail
guests=${1:?usage: check.sh GUESTS OUTPUT}
output=${2:?usage: check.sh GUESTS OUTPUT}
awk '
{ sub(/\r$/, "") }   # the engine ends printed lines with CR LF
FNR == NR {
    if (match($0, /\(guest \(name [^)]*\) \(sex [^)]*\) \(hobby [^)]*\)\)/)) {
        split($0, w, /[() ]+/)
        # w: "", guest, name, NAME, sex, SEX, hobby, HOBBY
        for (i = 1; i in w; i++) { if (w[i] == "name") name = w[i+1]; if (w[i] == "sex") sex = w[i+1]; if (w[i] == "hobby") hobby = w[i+1] }
        gsex[name] = sex; ghobby[name, hobby] = 1; hobbies[hobby] = 1
    }
    if (match($0, /\(last_seat \(seat [0-9]+\)\)/)) { split(substr($0, RSTART), w, /[() ]+/); n = w[4] + 0 }
    next
}
/^seat [0-9]+ guest / { s = $2 + 0; if (s in seat) { print "seat " s " twice"; bad = 1; exit 1 } seat[s] = $4; if ($4 in used) { print "guest " $4 " twice"; bad = 1; exit 1 } used[$4] = 1 }
END {
    if (bad) exit 1
    if (n == 0) { print "no last_seat in the guest file"; exit 1 }
    for (s = 1; s <= n; s++) if (!(s in seat)) { print "seat " s " empty"; exit 1 }
    for (s = 1; s < n; s++) {
        a = seat[s]; b = seat[s+1]
        if (gsex[a] == gsex[b]) { print "seats " s " and " s+1 " have the same sex"; exit 1 }
        share = 0; for (h in hobbies) if (((a, h) in ghobby) && ((b, h) in ghobby)) share = 1
        if (!share) { print "seats " s " and " s+1 " share no hobby"; exit 1 }
    }
    print "ok " n
}' "$guests" "$output"
