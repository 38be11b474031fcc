; ?n is a field of the ref element before the element after it binds ?n to its fact.
(deftemplate ref (slot to))
(defrule via (ref (to ?n)) ?n <- (item ?x) => (printout t ?x crlf))
