;;; N-queens: count every placement of N queens on an N x N board with no two attacking. A
;;; partial placement holds the columns of rows 1..row and the diagonals they occupy; test
;;; conditions decide whether a column extends it.
;;;
;;; Input facts (made by gen-queens.sh): (size N) and (column (c C)) for C in 1..N. Prints
;;; "RESULT N SOLUTIONS PLACEMENTS": the board size, the number of solutions and the number of
;;; partial placements made on the way.

(deftemplate column (slot c))
(deftemplate partial (slot row) (multislot cols) (multislot up) (multislot down))

(defglobal ?*solutions* = 0 ?*placements* = 0)

(defrule start
    (size ?n)
    =>
    (assert (partial (row 0))))

(defrule place
    (size ?n)
    (partial (row ?r) (cols $?cs) (up $?u) (down $?d))
    (test (< ?r ?n))
    (column (c ?c))
    (test (not (member$ ?c $?cs)))
    (test (not (member$ (+ ?r ?c) $?u)))
    (test (not (member$ (- ?r ?c) $?d)))
    =>
    (bind ?*placements* (+ ?*placements* 1))
    (assert (partial (row (+ ?r 1)) (cols $?cs ?c) (up $?u (+ ?r ?c)) (down $?d (- ?r ?c)))))

(defrule solution
    (size ?n)
    (partial (row ?r))
    (test (= ?r ?n))
    =>
    (bind ?*solutions* (+ ?*solutions* 1)))

(defrule report
    (declare (salience -10))
    (size ?n)
    =>
    (printout t "RESULT " ?n " " ?*solutions* " " ?*placements* crlf))
