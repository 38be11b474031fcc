; Accepted: a pattern on a template also matches the facts of a template that extends it, whose
; slots a modify may name.
(deftemplate stock (slot count))
(deftemplate priced-stock extends stock (slot price))
(defrule reprice ?p <- (stock (count 0)) => (modify ?p (count 1) (price 3)))
