; Two small puzzles solved by rules whose tests do the arithmetic. A farmyard holds 35 heads and
; 94 legs of chickens and rabbits: how many of each? And every right triangle with integer sides
; up to 30 (a < b < c), counted and summed, with the largest perimeter found.
(deftemplate count (slot n))
(deftemplate side (slot v))
(defglobal ?*triangles* = 0 ?*perimeters* = 0 ?*largest* = 0)
(defrule farmyard
    (count (n ?chickens&:(= (+ (* 2 ?chickens) (* 4 (- 35 ?chickens))) 94)))
    =>
    (printout t "chickens " ?chickens " rabbits " (- 35 ?chickens) crlf))
(defrule right-triangle
    (side (v ?a))
    (side (v ?b&:(> ?b ?a)))
    (side (v ?c&:(> ?c ?b)&:(= (* ?c ?c) (+ (* ?a ?a) (* ?b ?b)))))
    =>
    (bind ?*triangles* (+ ?*triangles* 1))
    (bind ?*perimeters* (+ ?*perimeters* ?a ?b ?c))
    (if (> (+ ?a ?b ?c) ?*largest*) then (bind ?*largest* (+ ?a ?b ?c))))
(defrule half-integral
    (side (v ?a&:(= (/ ?a 2) (div ?a 2))&:(< ?a 5)))
    =>
    (printout t "even " ?a " halves to " (/ ?a 2) " and " (div ?a 2) crlf))
(defrule report
    (declare (salience -10))
    =>
    (printout t "triangles " ?*triangles* " perimeters " ?*perimeters* " largest "
              ?*largest* crlf))
(deffunction fill (?template ?from ?to)
    (bind ?i ?from)
    (while (<= ?i ?to) do
        (if (eq ?template count)
            then (assert (count (n ?i)))
            else (assert (side (v ?i))))
        (bind ?i (+ ?i 1))))
(reset)
(fill count 0 35)
(fill side 1 30)
(run)
; Sums and products of pattern variables in tests: an integer unless a float takes part, an
; integer product that leaves 32 bits raises.
(deftemplate pair (slot x) (slot y))
(defrule mixed
    (pair (x ?x) (y ?y&:(> (+ ?x (* ?y 0.5)) (- ?x))))
    =>
    (printout t "mixed " (+ ?x (* ?y 0.5)) " " (- ?x) " " (* ?y -1 0) " " (- ?x ?y 1) crlf))
(defrule product
    (pair (x ?x) (y ?y&:(< (* ?x ?y ?y) 0)))
    =>
    (printout t "negative " ?x " " (- (* ?x ?y ?y)) crlf))
(assert (pair (x 3) (y -4)) (pair (x 2.5) (y 1)) (pair (x -1) (y 2)))
(run)
(assert (pair (x 100000) (y 100000)))
(run)
