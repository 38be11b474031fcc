; The duplicate, inside an if, names a slot that points2 does not have.
(defrule copy ?p <- (points2 (ptsPerson2 ?x)) => (if (> ?x 0) then (duplicate ?p (total ?x))))
