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
