; ?total is read before the bind that makes it.
(defrule sum (item ?x) => (bind ?total (+ ?total ?x)) (printout t ?total crlf))
