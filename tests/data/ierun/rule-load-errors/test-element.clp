; The test reads ?y, which no element binds.
(defrule pair-check (item ?x) (test (> ?y 1)) => (printout t ?x crlf))
