; A fact address names one fact for its whole life: after a reset the numbers are given again,
; but an address of a fact the reset removed names none of the new facts. The retract does
; nothing, the slot read, modify and duplicate fail, and the deffacts fact stays (p (v 7)).
(clear)
(deftemplate p (slot v))
(deffacts d (p (v 7)))
(defrule r ?f <- (p (v 7))
  =>
  (reset)
  (halt)
  (printout t "after reset: " ?f crlf)
  (retract ?f)
  (try (get-slot-value ?f v) catch (printout t ?__ERROR crlf))
  (try (modify ?f (v 2)) catch (printout t ?__ERROR crlf))
  (try (duplicate ?f (v 3)) catch (printout t ?__ERROR crlf)))
(reset)
(run)
(facts)
; Modify gives the fact a new address; the old one names nothing, at the top level too.
(bind ?a (assert (p (v 9))))
(bind ?c (modify ?a (v 10)))
(try (get-slot-value ?a v) catch (printout t ?__ERROR crlf))
(get-slot-value ?c v)
; An address kept over a reset names none of the facts the reset numbers again.
(bind ?b (assert (p (v 12))))
(reset)
(assert (p (v 13)) (p (v 14)) (p (v 15)))
(retract ?b)
(facts)
; A number is still looked up by number.
(retract 1)
(facts)
; In a rule's actions a modify of the address after the reset stops the run, naming the rule.
(defrule m ?f <- (p (v 7)) => (reset) (halt) (modify ?f (v 2)))
(reset)
(run)
