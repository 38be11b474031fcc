; A rule compiled later shares a join whose children a test refused, over a right memory that an
; older rule's join shares too: the join makes those children again, and retracting the right
; fact withdraws them with that join's own removal, after the older sharer's.
(clear)
(deftemplate a (slot x))
(deftemplate b (slot x))
(deftemplate c (slot x))
(defrule other (c (x ?x)) (b (x ?x)) => (printout t "other " ?x crlf))
(defrule low (a (x ?x)) (b (x ?x)) (test (> ?x 5)) => (printout t "low " ?x crlf))
(reset)
(assert (a (x 1)) (a (x 2)) (c (x 1)) (c (x 2)))
(bind ?b (assert (b (x 1))))
(assert (b (x 2)))
(defrule late (a (x ?x)) (b (x ?x)) (c (x ?x)) => (printout t "late " ?x crlf))
(watch activations)
(retract ?b)
(run)
