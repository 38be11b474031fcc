; Multifield variables in multislots: one run per slot binds the whole rest, two runs in one slot
; give every cut. Then N-queens over partial placements kept in three multislots: 6 queens have
; 4 solutions, 8 queens 92.
(deftemplate bag (multislot items))
(defglobal ?*cuts* = 0 ?*cutsum* = 0)
(defrule head
    (bag (items a $?rest))
    =>
    (printout t "rest " (length$ ?rest) " " ?rest crlf))
(defrule tail
    (bag (items $?front d))
    =>
    (printout t "front " (length$ ?front) " " ?front crlf))
(defrule inside
    (bag (items a $?middle d))
    =>
    (printout t "middle " (length$ ?middle) " " ?middle crlf))
(defrule cuts
    (bag (items $?x b $?y))
    =>
    (bind ?*cuts* (+ ?*cuts* 1))
    (bind ?*cutsum* (+ ?*cutsum* (* 10 (length$ ?x)) (length$ ?y))))
(defrule no-match
    (bag (items b $?any))
    =>
    (printout t "wrong" crlf))
(defrule cuts-report
    (declare (salience -5))
    (bag)
    =>
    (printout t "cuts " ?*cuts* " " ?*cutsum* crlf))
(deffacts bags (bag (items a b c b d)))
(reset)
(run)

(deftemplate column (slot c))
(deftemplate partial (slot row) (multislot cols) (multislot up) (multislot down))
(defglobal ?*solutions* = 0)
(defrule place
    (size ?n)
    (partial (row ?r) (cols $?cs) (up $?u) (down $?d))
    (test (< ?r ?n))
    (column (c ?c))
    (test (not (member$ ?c $?cs)))
    (test (not (member$ (+ ?r ?c) $?u)))
    (test (not (member$ (- ?r ?c) $?d)))
    =>
    (assert (partial (row (+ ?r 1)) (cols $?cs ?c) (up $?u (+ ?r ?c)) (down $?d (- ?r ?c)))))
(defrule solution
    (size ?n)
    (partial (row ?n) (cols $?cs))
    =>
    (bind ?*solutions* (+ ?*solutions* 1)))
(defrule report
    (declare (salience -10))
    (size ?n)
    =>
    (printout t "queens " ?n " " ?*solutions* crlf))
(deffacts six (size 6) (partial (row 0))
    (column (c 1)) (column (c 2)) (column (c 3)) (column (c 4)) (column (c 5)) (column (c 6)))
(reset)
(run)
(undeffacts six)
(deffacts eight (size 8) (partial (row 0))
    (column (c 1)) (column (c 2)) (column (c 3)) (column (c 4)) (column (c 5)) (column (c 6))
    (column (c 7)) (column (c 8)))
(bind ?*solutions* 0)
(reset)
(run)
