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
; The pieces of cut slots read every way a match reads them: by the join of a later pattern, by
; the join of the cut pattern itself, in a test, in a predicate of the pattern, and as the fact
; bound to the pattern; the activations name the facts matched, and a retraction withdraws each
; cut.
(clear)
(deftemplate m (multislot v) (slot k))
(deftemplate w (slot x))
(defrule three
    (m (v $?a ?x $?b) (k ?k))
    (w (x ?x))
    =>
    (printout t "three " ?a " " ?x " " ?b " " ?k crlf))
(defrule later
    (w (x ?y))
    (m (v $?a ?z&:(numberp ?z)&:(> ?z 1) $?b))
    (test (> (length$ ?a) (+ (length$ ?b) ?y -2)))
    =>
    (printout t "later " ?y " " ?a " " ?z " " ?b crlf))
(defrule joined
    (w (x ?y))
    (m (v $?a ?y $?b))
    =>
    (printout t "joined " ?y " " ?a " " ?b crlf))
(defrule around-c
    ?f <- (m (v $?p c $?q) (k ?k))
    =>
    (printout t "around-c " ?f " " ?p " " ?q " " ?k crlf))
(defrule ends
    (m (v ?first $?mid ?last))
    (w (x ?first))
    =>
    (printout t "ends " ?first " " ?mid " " ?last crlf))
(defrule no-pair
    (w (x ?y))
    (not (m (v $? ?y ?y $?)))
    =>
    (printout t "no pair " ?y crlf))
(watch activations)
(assert (w (x 2)) (w (x 3)))
(assert (m (v 1 2 3 c 2) (k z)))
(assert (m (v 3 3 c) (k y)))
(agenda)
(run)
(bind ?f (assert (m (v 2 2 c 2 3) (k x))))
(agenda)
(retract ?f)
(agenda)
(unwatch activations)
; A rule added later shares a split with one that wants another length of the slot: facts
; asserted after it are cut in the ways both rules want.
(clear)
(deftemplate m (multislot v))
(defrule whole
    (m (v $?a))
    =>
    (printout t "whole " ?a crlf))
(assert (m (v 1 x)))
(run)
(defrule before-x
    (m (v $?a x))
    =>
    (printout t "before x " ?a crlf))
(assert (m (v 2 3 x)))
(run)
; Three runs of one slot and a run of another, their lengths read by a test and by the action.
(clear)
(deftemplate p (multislot a) (multislot b))
(defrule runs
    (p (a $?x $?y $?z) (b ?h $?t))
    (test (= (length$ ?y) (+ (length$ ?x) (length$ ?t))))
    =>
    (printout t ?x "|" ?y "|" ?z " " ?h " " ?t " " (length$ ?x) (length$ ?y) (length$ ?z) crlf))
(assert (p (a 1 2 3 4) (b h 5)))
(run)
; A split pattern after the first, with no test between them: the join's matches keep the cuts of
; the split fact, and the action and a later join read the pieces through them.
(clear)
(deftemplate t1 (multislot m))
(defrule pieces-after-a-join
    (a ?n)
    (t1 (m $?x $?y))
    (a ?k&:(< ?k ?n))
    =>
    (printout t ?n " " ?k ": " ?x " | " ?y " " (length$ ?y) crlf))
(assert (a 1) (a 2) (t1 (m 1 2 3)))
(run)
