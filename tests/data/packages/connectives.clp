; An or-constraint on a named slot with no variable before it binds a generated variable in its
; own pattern, also when the rule has a negated element after it.
(deftemplate car (slot color) (slot id))
(deftemplate sold (slot id))
(defrule unsold-red-or-blue
    (car (color red|blue) (id ?i))
    (not (sold (id ?i)))
    =>
    (printout t "car " ?i crlf))
(assert (car (color red) (id 1)) (car (color green) (id 2)) (car (color blue) (id 3)) (sold (id 3)))
(run)
(defrule neither
    (sold (id ?i))
    (car (color ~red&~blue) (id ?j))
    =>
    (printout t "other " ?j crlf))
(run)
