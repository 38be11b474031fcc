;;; Assert / retract / modify churn over a working set: every round adds one item, accounts its
;;; value into its bucket (a modify of the bucket and of the item), and expires the item that
;;; has left the window, so the working set stays the same size while every fact is replaced
;;; many times over.
;;;
;;; Input facts (made by gen-churn.sh): (rounds R), (window W), (clock (n 0)) and one
;;; (bucket (b B) (total 0) (items 0)) per bucket. Prints "RESULT ROUNDS LIVE TOTAL ITEMS
;;; EXPIRED": the rounds run, the items alive at the end, the sum of the bucket totals, the sum
;;; of the bucket item counts and the number of items expired.

(deftemplate clock (slot n))
(deftemplate item (slot id) (slot bucket) (slot value) (slot counted))
(deftemplate bucket (slot b) (slot total) (slot items))

(defglobal ?*expired* = 0 ?*live* = 0 ?*total* = 0 ?*items* = 0)

(defrule step
    (rounds ?r)
    ?t <- (clock (n ?n&:(< ?n ?r)))
    =>
    (assert (item (id ?n) (bucket (mod (* ?n 7) 37)) (value (mod (* ?n 7919) 1000))
                  (counted no)))
    (modify ?t (n (+ ?n 1))))

(defrule account
    (declare (salience 20))
    ?i <- (item (bucket ?b) (value ?v) (counted no))
    ?k <- (bucket (b ?b) (total ?t) (items ?c))
    =>
    (modify ?k (total (+ ?t ?v)) (items (+ ?c 1)))
    (modify ?i (counted yes)))

(defrule expire
    (declare (salience 10))
    (window ?w)
    (clock (n ?n))
    ?i <- (item (id ?id&:(<= ?id (- ?n ?w))) (bucket ?b) (value ?v) (counted yes))
    ?k <- (bucket (b ?b) (total ?t) (items ?c))
    =>
    (bind ?*expired* (+ ?*expired* 1))
    (modify ?k (total (- ?t ?v)) (items (- ?c 1)))
    (retract ?i))

(defrule count_live
    (declare (salience -10))
    (rounds ?r)
    (clock (n ?r))
    (item (counted yes))
    =>
    (bind ?*live* (+ ?*live* 1)))

(defrule sum_bucket
    (declare (salience -10))
    (rounds ?r)
    (clock (n ?r))
    (bucket (total ?t) (items ?c))
    =>
    (bind ?*total* (+ ?*total* ?t))
    (bind ?*items* (+ ?*items* ?c)))

(defrule report
    (declare (salience -20))
    (rounds ?r)
    (clock (n ?r))
    =>
    (printout t "RESULT " ?r " " ?*live* " " ?*total* " " ?*items* " " ?*expired* crlf))
