; A deffunction binds in a context of its own: its bind never changes the variable of the same
; name in the rule or the function that called it.
(deffunction f1 (?a) (bind ?t (* ?a 2)) (+ ?t 1))
(defrule caller (go) => (bind ?t 100) (printout t (f1 1) " " ?t crlf))
(assert (go))
(run)
; Greatest common divisor and least common multiple: the helpers use ?r and ?g for their
; own work, as the rule does for its own purpose. Expected: 4/6 lcm 12 gcd 2, 9/12 lcm 36 gcd 3.
(deffunction gcd (?a ?b)
  (while (<> ?b 0)
    (bind ?r (mod ?a ?b))
    (bind ?a ?b)
    (bind ?b ?r))
  ?a)
(deffunction lcm (?a ?b)
  (bind ?g (gcd ?a ?b))
  (div (* ?a ?b) ?g))
(defrule describe (pair ?x ?y)
  => (bind ?r (str-cat ?x "/" ?y))
     (bind ?g (gcd ?x ?y))
     (printout t ?r " lcm " (lcm ?x ?y) " gcd " ?g crlf))
(assert (pair 4 6) (pair 9 12))
(run)
; Each call, a nested one too, binds in a context of its own: the recursion below keeps every
; level's ?here apart. Repeated parameter names bind the last argument; a wildcard takes the rest.
(deffunction depth (?n)
  (bind ?here ?n)
  (if (> ?n 0) then (bind ?below (depth (- ?n 1))))
  (str-cat ?here (if (> ?n 0) then ?below else "")))
(printout t (depth 4) " " (depth 2) crlf)
(deffunction twice (?a ?a) ?a)
(deffunction spread (?a $?rest) (+ (* 10 (length$ ?rest)) ?a))
(printout t (twice 1 2) " " (spread 1 2 3) " " (spread 7) crlf)
; Calls one after another and inside each other's arguments, of functions whose parameters
; share names in other places: each binds its own.
(deffunction pick (?a ?b ?c) (str-cat ?a ?b ?c))
(deffunction one (?a) ?a)
(deffunction swap (?b ?a) (str-cat ?a ?b))
(printout t (pick x y z) " " (one q) " " (swap 1 2) " " (pick (one u) (swap v w) (one t)) crlf)
; Nothing a deffunction binds is seen by its caller, at the top level too; a variable of the
; caller that the body does not bind is still read through. Expected: 3 99 3, then 13 3.
(deffunction h () (bind ?u 99) ?u)
(bind ?u 3)
(h)
?u
(deffunction reads () (bind ?w (+ ?u 10)) ?w)
(reads)
?u
