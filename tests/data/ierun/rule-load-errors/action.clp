; The actions print ?zz, which nothing binds.
(defrule show (item ?x) => (printout t ?x " " ?zz crlf))
