; The modify names a slot that points2, the template of ?p's pattern, does not have.
(deftemplate points2 (slot ptsPerson2))
(defrule score ?p <- (points2 (ptsPerson2 ?x)) => (modify ?p (ptsPerson1 (+ ?x 1))))
