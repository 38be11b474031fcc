; The predicate reads ?limit, which nothing binds.
(defrule over (item ?x&:(> ?x ?limit)) => (printout t ?x crlf))
