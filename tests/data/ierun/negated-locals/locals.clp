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
