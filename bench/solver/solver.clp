;;; A grid-puzzle solver in the style of constraint propagation: a Latin-square puzzle with boxes
;;; (sudoku) of N = B x B rows, columns, boxes and values. A cell's candidates are (possible)
;;; facts; rules remove candidates that a placed value rules out, place a value that is the only
;;; candidate of its cell or the only place for it in a row, column or box (each a rule of
;;; several not conditions), and remove candidates that a naked pair of a row, column or box
;;; rules out (joins of seven conditions with ~ and | connectives). Every rule is sound, so the
;;; deductions end in one state whatever their order.
;;;
;;; Input (made by gen-grid.sh): (size N) and one (cell ...) per given value, one (possible ...)
;;; per candidate of every empty cell. Prints "RESULT N PLACED LEFT CHECKSUM": the size, the
;;; cells placed at the end (given or found), the candidates left and a checksum of the placed
;;; values.

(deftemplate cell (slot row) (slot col) (slot box) (slot value))
(deftemplate possible (slot row) (slot col) (slot box) (slot value))

(defglobal ?*placed* = 0 ?*left* = 0 ?*checksum* = 0)

;;; A placed value is no longer a candidate anywhere in its row, column or box, and its cell has
;;; no candidates left.

(defrule solved-cell
    (declare (salience 20))
    (cell (row ?r) (col ?c))
    ?p <- (possible (row ?r) (col ?c))
    =>
    (retract ?p))

(defrule eliminate-row
    (declare (salience 10))
    (cell (row ?r) (col ?c) (value ?v))
    ?p <- (possible (row ?r) (col ~?c) (value ?v))
    =>
    (retract ?p))

(defrule eliminate-col
    (declare (salience 10))
    (cell (row ?r) (col ?c) (value ?v))
    ?p <- (possible (row ~?r) (col ?c) (value ?v))
    =>
    (retract ?p))

(defrule eliminate-box
    (declare (salience 10))
    (cell (row ?r) (col ?c) (box ?b) (value ?v))
    ?p <- (possible (row ?r2) (col ?c2) (box ?b) (value ?v))
    (test (or (<> ?r ?r2) (<> ?c ?c2)))
    =>
    (retract ?p))

;;; Singles.

(defrule naked-single
    (possible (row ?r) (col ?c) (box ?b) (value ?v))
    (not (possible (row ?r) (col ?c) (value ~?v)))
    (not (cell (row ?r) (col ?c)))
    =>
    (assert (cell (row ?r) (col ?c) (box ?b) (value ?v))))

(defrule hidden-single-row
    (possible (row ?r) (col ?c) (box ?b) (value ?v))
    (not (possible (row ?r) (col ~?c) (value ?v)))
    (not (cell (row ?r) (value ?v)))
    (not (cell (row ?r) (col ?c)))
    =>
    (assert (cell (row ?r) (col ?c) (box ?b) (value ?v))))

(defrule hidden-single-col
    (possible (row ?r) (col ?c) (box ?b) (value ?v))
    (not (possible (row ~?r) (col ?c) (value ?v)))
    (not (cell (col ?c) (value ?v)))
    (not (cell (row ?r) (col ?c)))
    =>
    (assert (cell (row ?r) (col ?c) (box ?b) (value ?v))))

(defrule hidden-single-box
    (possible (row ?r) (col ?c) (box ?b) (value ?v))
    (not (possible (row ?r2) (col ?c2&:(or (<> ?r ?r2) (<> ?c ?c2))) (box ?b) (value ?v)))
    (not (cell (box ?b) (value ?v)))
    (not (cell (row ?r) (col ?c)))
    =>
    (assert (cell (row ?r) (col ?c) (box ?b) (value ?v))))

;;; Naked pairs: two cells of a unit whose only candidates are the same two values; no other
;;; cell of the unit can take either.

(defrule naked-pair-row
    (declare (salience -5))
    (possible (row ?r) (col ?c1) (value ?v1))
    (possible (row ?r) (col ?c1) (value ?v2&:(> ?v2 ?v1)))
    (not (possible (row ?r) (col ?c1) (value ~?v1&~?v2)))
    (possible (row ?r) (col ?c2&:(> ?c2 ?c1)) (value ?v1))
    (possible (row ?r) (col ?c2) (value ?v2))
    (not (possible (row ?r) (col ?c2) (value ~?v1&~?v2)))
    ?p <- (possible (row ?r) (col ?c3&~?c1&~?c2) (value ?v1|?v2))
    =>
    (retract ?p))

(defrule naked-pair-col
    (declare (salience -5))
    (possible (row ?r1) (col ?c) (value ?v1))
    (possible (row ?r1) (col ?c) (value ?v2&:(> ?v2 ?v1)))
    (not (possible (row ?r1) (col ?c) (value ~?v1&~?v2)))
    (possible (row ?r2&:(> ?r2 ?r1)) (col ?c) (value ?v1))
    (possible (row ?r2) (col ?c) (value ?v2))
    (not (possible (row ?r2) (col ?c) (value ~?v1&~?v2)))
    ?p <- (possible (row ?r3&~?r1&~?r2) (col ?c) (value ?v1|?v2))
    =>
    (retract ?p))

(defrule naked-pair-box
    (declare (salience -5))
    (possible (row ?r1) (col ?c1) (box ?b) (value ?v1))
    (possible (row ?r1) (col ?c1) (value ?v2&:(> ?v2 ?v1)))
    (not (possible (row ?r1) (col ?c1) (value ~?v1&~?v2)))
    (possible (row ?r2) (col ?c2) (box ?b) (value ?v1))
    (test (or (> ?r2 ?r1) (and (= ?r2 ?r1) (> ?c2 ?c1))))
    (possible (row ?r2) (col ?c2) (value ?v2))
    (not (possible (row ?r2) (col ?c2) (value ~?v1&~?v2)))
    ?p <- (possible (row ?r3) (col ?c3) (box ?b) (value ?v1|?v2))
    (test (and (or (<> ?r3 ?r1) (<> ?c3 ?c1)) (or (<> ?r3 ?r2) (<> ?c3 ?c2))))
    =>
    (retract ?p))

;;; The result, once nothing else can fire.

(defrule count-placed
    (declare (salience -100))
    (size ?n)
    (cell (row ?r) (col ?c) (value ?v))
    =>
    (bind ?*placed* (+ ?*placed* 1))
    (bind ?*checksum* (mod (+ ?*checksum* (* (+ (* ?r ?n) ?c 1) ?v)) 1000003)))

(defrule count-left
    (declare (salience -100))
    (possible)
    =>
    (bind ?*left* (+ ?*left* 1)))

(defrule report
    (declare (salience -200))
    (size ?n)
    =>
    (printout t "RESULT " ?n " " ?*placed* " " ?*left* " " ?*checksum* crlf))
