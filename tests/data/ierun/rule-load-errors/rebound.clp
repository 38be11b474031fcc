; Accepted: ?p is bound anew to a fact of another template before the modify.
(deftemplate tally (slot total))
(defrule recount ?p <- (points2 (ptsPerson2 ?x))
  => (bind ?p (assert (tally (total 0)))) (modify ?p (total ?x)))
