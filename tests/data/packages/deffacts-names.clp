; Each deffacts keeps its own name: reading a second one never displaces the set read before it,
; whatever that set is called.
(deffacts FactSet (a))
(deffacts other (b))
(reset)
(facts)
