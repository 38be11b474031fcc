; Fact sets evaluate their facts as assert does: calls inside ordered facts and multislots are
; evaluated at every reset.
(deftemplate span (slot from) (slot to) (multislot days))
(defglobal ?*base* = 10)
(deffacts d
    (b (+ 1 2))
    (c (gensym*) (* 2 3))
    (span (from (+ ?*base* 1)) (to 20) (days (- 7 6) (+ 1 1) three)))
(reset)
(defrule show-b (b ?v) => (printout t "b " ?v " " (integerp ?v) crlf))
(defrule show-c (c ?g ?n) => (printout t "c " ?g " " ?n crlf))
(defrule show-span (span (from ?f) (to ?t) (days $?d)) => (printout t "span " ?f " " ?t " " ?d " " (length$ ?d) crlf))
(run)
(reset)
(run)
