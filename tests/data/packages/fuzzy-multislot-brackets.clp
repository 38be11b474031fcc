; Hedged and bracketed expressions as single elements of a fuzzy multislot pattern: each ends at
; its own closing bracket, so the elements after it are constraints of their own.
(deftype temperature extends (type FUZZY) (range 0 100)
    (values (term cold ((0 1) (50 0))) (term hot ((50 0) (100 1)))))
(deftemplate zone (slot name) (multislot sensors (type temperature)))

(defrule very-hot-then-cold (zone (name ?n) (sensors [very hot] cold))
    => (printout t ?n ": very hot, then cold" crlf))
(defrule hot-or-cold-first (zone (name ?n) (sensors [hot or cold] $?))
    => (printout t ?n ": first sensor hot or cold" crlf))
(defrule nested-last (zone (name ?n) (sensors $? [not [very cold]]))
    => (printout t ?n ": last sensor not very cold" crlf))

(assert (zone (name boiler) (sensors very hot cold)))
(assert (zone (name cellar) (sensors cold hot)))
(run)
; A bracket left open at the end of the slot is refused with the expression's own message.
(defrule open-bracket (zone (sensors [very hot)) =>)
