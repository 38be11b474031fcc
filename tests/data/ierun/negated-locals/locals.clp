; A variable first written inside a not or exists element belongs to that element: the same
; name in another element or in the actions is a variable of its own.
(deffacts d (a 1) (b 2))
(defrule later-pattern (not (a ?x&2)) (b ?x) => (printout t "later-pattern " ?x crlf))
(defrule in-actions (exists (a ?k)) => (bind ?k 0) (printout t "in-actions " ?k crlf))
(defrule two-nots (not (a ?p&3)) (not (b ?p&1)) (a ?p)
  => (printout t "two-nots " ?p crlf))
(defrule inside-only (not (b ?q&:(> ?q 5))) => (printout t "inside-only" crlf))
(reset)
(run)
; Who works alone: a person who manages nobody and whom nobody manages. Each not element uses
; ?x for a person of its own.
(clear)
(deffacts staff
  (person ann) (person bob) (person cid) (person dan) (person eve) (person fay)
  (manages ann bob) (manages bob cid) (manages dan ann))
(defrule alone (person ?e) (not (manages ?e ?x)) (not (manages ?x ?e))
  => (assert (alone ?e)))
(defrule list-alone (declare (salience -1)) (alone ?e) => (printout t ?e " works alone" crlf))
(reset)
(run)
; Its kind is that element's too: the same name later is a new variable of the kind its own
; first use gives it, single-field or multifield, with its own place and value.
(clear)
(deftemplate t0 (slot s0) (multislot m1))
(deftemplate t1 (multislot m0))
(deffacts kinds (t0 (s0 5) (m1 7)) (a 5) (b 1 2) (o0 3))
(defrule multi-then-single (declare (salience 5)) (not (q $?x)) (t0 (s0 ?x))
  => (printout t "multi-then-single " ?x crlf))
(defrule exists-multi (declare (salience 4)) (exists (b $?y)) (a ?y)
  => (printout t "exists-multi " ?y " " (integerp ?y) crlf))
(defrule single-then-multi (declare (salience 3)) (not (q ?z)) (b $?z)
  => (printout t "single-then-multi " (length$ ?z) crlf))
(defrule single-then-multislot (declare (salience 2)) (not (q ?w)) (t0 (m1 $?w))
  => (printout t "single-then-multislot " ?w crlf))
(defrule split-then-single (declare (salience 1)) (not (t1 (m0 $?x 9))) (o0 ?x&:(> ?x 1))
  => (printout t "split-then-single " (+ ?x 1) crlf))
(reset)
(run)
; Shopping: each wanted item that is not in the basket yet, with the aisle it is in. The not
; element's $?b is the basket's contents; the ?b after it is an aisle number.
(clear)
(deffacts shop
  (wanted milk bread eggs tea)
  (basket bread)
  (basket eggs)
  (aisle milk 4) (aisle bread 1) (aisle eggs 4) (aisle tea 7))
(defrule still-to-buy
  (wanted $? ?item $?)
  (not (basket $?b&:(member$ ?item ?b)))
  (aisle ?item ?b)
  =>
  (assert (fetch ?b ?item)))
(defrule route (declare (salience -1)) (fetch ?b ?item) (not (fetch ?a&:(< ?a ?b) ?))
  => (printout t "aisle " ?b ": " ?item crlf))
(defrule next (declare (salience -2)) ?f <- (fetch ? ?) => (retract ?f))
(reset)
(run)
