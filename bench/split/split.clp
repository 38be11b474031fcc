;;; A multislot that grows under a two-way split: the rule's pattern (t1 (m1 $?z $?n)) matches
;;; a fact of n elements in n + 1 ways, and each firing appends one element to m1, so the fact
;;; is matched again in one more way every time. The run stops when m1 holds the (limit L)
;;; elements; it makes about L^2 / 2 matches of the split in all.
;;;
;;; Input (made by gen-split.sh): (limit L). Prints "RESULT LIMIT FIRINGS LENGTH SUM": the limit,
;;; the firings of the growing rule, the length of m1 at the end and the sum of the elements appended.

(deftemplate t1 (multislot m1))

(defglobal ?*firings* = 0 ?*sum* = 0)

(deffacts start
    (t1 (m1))
    (t2))

(defrule grow
    ?f <- (t1 (m1 $?z $?n))
    (t2)
    (limit ?l)
    (test (< (+ (length$ ?z) (length$ ?n)) ?l))
    =>
    (bind ?*firings* (+ ?*firings* 1))
    (bind ?*sum* (+ ?*sum* (length$ ?z) (length$ ?n)))
    (modify ?f (m1 $?z $?n (+ (length$ ?z) (length$ ?n)))))

(defrule report
    (declare (salience -10))
    (limit ?l)
    (t1 (m1 $?all))
    =>
    (printout t "RESULT " ?l " " ?*firings* " " (length$ ?all) " " ?*sum* crlf))
