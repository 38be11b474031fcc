;;; Cryptarithmetic: SEND + MORE = MONEY in base B. One rule of eight patterns, each letter a
;;; digit different from the letters before it, tested only by inequalities; the sum is checked
;;; by a test condition once all eight are chosen, so the last join holds every assignment of
;;; distinct digits to the letters (about B^8 partial matches in all).
;;;
;;; Input (made by gen-crypt.sh): the global ?*base* and one (digit D) per digit 0..B-1.
;;; Prints "RESULT BASE SOLUTIONS CHECKSUM": the base, the number of solutions and the sum of
;;; the values of MONEY over them.

(defglobal ?*base* = 10 ?*solutions* = 0 ?*checksum* = 0)

(defrule send-more-money
    (digit ?s&~0)
    (digit ?e&~?s)
    (digit ?n&~?s&~?e)
    (digit ?d&~?s&~?e&~?n)
    (digit ?m&~0&~?s&~?e&~?n&~?d)
    (digit ?o&~?s&~?e&~?n&~?d&~?m)
    (digit ?r&~?s&~?e&~?n&~?d&~?m&~?o)
    (digit ?y&~?s&~?e&~?n&~?d&~?m&~?o&~?r)
    (test (= (+ (* ?*base* (+ (* ?*base* (+ (* ?*base* ?s) ?e)) ?n)) ?d
                (* ?*base* (+ (* ?*base* (+ (* ?*base* ?m) ?o)) ?r)) ?e)
             (+ (* ?*base* (+ (* ?*base* (+ (* ?*base* (+ (* ?*base* ?m) ?o)) ?n)) ?e)) ?y)))
    =>
    (bind ?*solutions* (+ ?*solutions* 1))
    (bind ?*checksum* (+ ?*checksum*
        (+ (* ?*base* (+ (* ?*base* (+ (* ?*base* (+ (* ?*base* ?m) ?o)) ?n)) ?e)) ?y))))

(defrule report
    (declare (salience -10))
    =>
    (printout t "RESULT " ?*base* " " ?*solutions* " " ?*checksum* crlf))
