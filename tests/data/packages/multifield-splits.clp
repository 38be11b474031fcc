; Patterns that cut multislots several ways match views of a fact; the fact itself keeps its
; values, and what a rule builds from the pieces is new. Each pair of words that appears in order
; in both sentences is reported once per way of finding it.
(deftemplate sentence (slot id) (multislot words) (multislot marks))
(deffacts sentences
    (sentence (id 1) (words the cat sat on the mat) (marks 1 2.5 "x"))
    (sentence (id 2) (words on the mat the cat slept) (marks)))
(defrule common-pair
    (sentence (id 1) (words $? ?a $? ?b $?) (marks $?m1))
    (sentence (id 2) (words $? ?a $? ?b $?) (marks $?m2))
    =>
    (printout t ?a " then " ?b " marks " (length$ $?m1) "/" (length$ $?m2) crlf))
(defrule split-both
    (sentence (id ?i) (words ?first $?rest) (marks $?front ?last))
    =>
    (printout t ?i ": " ?first " + " (length$ $?rest) " words, last mark " ?last
              " after " (create$ $?front) crlf))
(defrule rebuild
    (declare (salience -10))
    ?f <- (sentence (id 1) (words $?head mat) (marks $?m&:(> (length$ $?m) 0)))
    =>
    (assert (sentence (id 3) (words $?head rug) (marks (rest$ $?m)))))
(reset)
(run)
(facts)
; A slot that grows by one element per firing under a two-way split: every cut of every length
; is made and withdrawn again, one firing per element.
(deftemplate chain (multislot links))
(defrule grow
    ?f <- (chain (links $?z $?n))
    (sentence (id 2))
    =>
    (modify ?f (links $?z $?n x)))
(defrule long-enough
    (declare (salience 10))
    (chain (links $?l&:(= (length$ $?l) 150)))
    =>
    (printout t "chain of " (length$ $?l) " links" crlf)
    (halt))
(assert (chain))
(run)
; Constraint checks while rules run leave the ways a multislot is cut for matching alone: the
; pieces are bindings, not values of the slot.
(clear)
(set-dynamic-constraint-checking TRUE)
(deftemplate triple (multislot m (cardinality 3 3)))
(defrule cut
    (triple (m $?a $?b))
    =>
    (printout t (length$ ?a) "+" (length$ ?b) crlf))
(assert (triple (m 1 2 3)))
(run)
(set-dynamic-constraint-checking FALSE)
