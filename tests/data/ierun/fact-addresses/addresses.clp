; A variable bound to a matched fact, used as a field value in a later pattern, is compared with
; that fact itself: in a slot, in an ordered fact, inside not and exists. Only b is referred to
; by a ref fact, only c is wanted.
(deftemplate node (slot name))
(deftemplate ref (slot to))
(deffacts graph (node (name a)) (node (name b)) (node (name c)))
(defrule refer ?n <- (node (name b)) => (assert (ref (to ?n))))
(defrule want ?n <- (node (name c)) => (assert (wanted ?n)))
(defrule via (declare (salience -1)) ?n <- (node (name ?name)) (ref (to ?n))
  => (printout t "ref to " ?name crlf))
(defrule wanted (declare (salience -1)) ?n <- (node (name ?name)) (wanted ?n)
  => (printout t "wanted " ?name crlf))
(defrule unreferred (declare (salience -2)) ?n <- (node (name ?name)) (not (ref (to ?n)))
  => (printout t "no ref to " ?name crlf))
(defrule referred (declare (salience -2)) ?n <- (node (name ?name)) (exists (ref (to ?n)))
  => (printout t "some ref to " ?name crlf))
(reset)
(run)
