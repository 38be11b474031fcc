; A stock watch whose threshold changes while orders wait: withdrawing an order must withdraw the
; alerts it raised, whatever the threshold says by then, and no rule may fire on a withdrawn order.
(defglobal ?*limit* = 5)
(defrule large-order
    (order ?id ?qty&:(> ?qty ?*limit*))
    =>
    (printout t "large " ?id " " ?qty crlf))
(defrule large-for-desk
    (desk ?d)
    (order ?id ?qty&:(> ?qty ?*limit*))
    =>
    (printout t "desk " ?d " takes " ?id crlf))
(defrule small-order
    (order ?id ?qty&~:(> ?qty ?*limit*))
    =>
    (printout t "small " ?id " " ?qty crlf))
(defrule large-by-test
    (desk ?d)
    (order ?id ?qty)
    (test (> ?qty ?*limit*))
    =>
    (printout t "test " ?d " " ?id crlf))
(reset)
(assert (desk east))
(assert (order o1 10))
(assert (order o2 3))
(agenda)
(bind ?*limit* 2)
(retract 2 3)
(agenda)
(run)
(assert (order o3 4))
(run)
