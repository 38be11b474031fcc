; A =(call) constraint compares one field with the call's value: on an ordered fact, on a named
; slot and on a multislot element, with constants or variables bound before it.
(deftemplate point (slot x) (slot y))
(deftemplate row (multislot cells))
(defrule two (a =(+ 1 1)) => (printout t "a two" crlf))
(defrule double (pair ?x =(* ?x 2)) => (printout t "pair " ?x " doubles" crlf))
(defrule diagonal (point (x ?x) (y =(+ ?x 0))) => (printout t "diagonal " ?x crlf))
(defrule step (row (cells ?a =(+ ?a 1) ?)) => (printout t "row starts with a step from " ?a crlf))
(defrule not-two (a ~=(+ 1 1)) => (printout t "a not two" crlf))
(assert (a 2) (a 3))
(assert (pair 3 6) (pair 3 7))
(assert (point (x 4) (y 4)) (point (x 4) (y 5)))
(assert (row (cells 1 2 9)) (row (cells 1 3 9)) (row (cells 5 6)))
(run)
