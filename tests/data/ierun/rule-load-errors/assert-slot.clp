; The asserted points2 fact names a slot its template does not have.
(defrule award (item ?x) => (assert (points2 (ptsPerson1 ?x))))
