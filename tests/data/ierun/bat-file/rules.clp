; Ancestors from parent links: every chain of parents, followed to its end.
(deftemplate parent (slot of) (slot is))
(defrule ancestor-direct
  (parent (of ?c) (is ?p))
  =>
  (assert (ancestor ?c ?p)))
(defrule ancestor-chain
  (ancestor ?c ?p)
  (parent (of ?p) (is ?g))
  =>
  (assert (ancestor ?c ?g)))
(defrule report
  (declare (salience -10))
  (query ?who)
  (ancestor ?who ?a)
  =>
  (printout t ?who " descends from " ?a crlf))
(defrule none
  (declare (salience -20))
  (query ?who)
  (not (ancestor ?who ?))
  =>
  (printout t ?who " has no known ancestor" crlf))
