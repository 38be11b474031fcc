; The if has no then.
(defrule check (item ?x) => (if (> ?x 1) (printout t x crlf)))
