; Accepted: every variable is bound before it is read.
(defrule double (item ?x) (test (> ?x 1)) => (bind ?y (* ?x 2)) (printout t ?x " doubled is " ?y crlf))
