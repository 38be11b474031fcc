; A ward census. The rule elderly pairs every ward with every patient past sixty, so its join
; makes pairings that the age test refuses; a census rule added later reads the same pairings
; without the test, and discharges withdraw exactly what each pairing supported, in order.
(deftemplate ward (slot id))
(deftemplate patient (slot name) (slot age))
(deftemplate nurse (slot ward) (slot name))
(defrule elderly
    (ward (id ?w))
    (patient (name ?p) (age ?a))
    (test (> ?a 60))
    =>
    (printout t "elderly " ?p " may go to " ?w crlf))
(defrule on-duty
    (ward (id ?w))
    (nurse (ward ?w) (name ?n))
    (test (neq ?n nobody))
    =>
    (printout t ?n " on duty in " ?w crlf))
(deffacts hospital
    (ward (id W1))
    (ward (id W2))
    (patient (name ada) (age 70))
    (patient (name bo) (age 30))
    (patient (name cy) (age 80))
    (nurse (ward W1) (name nobody))
    (nurse (ward W2) (name eve))
    (nurse (ward W1) (name fay)))
(watch activations)
(reset)
(printout t "-- two rules join the same pairings" crlf)
(defrule census
    (ward (id ?w))
    (patient (name ?p) (age ?a))
    =>
    (printout t "census " ?w " " ?p " " ?a crlf))
(defrule roster
    (ward (id ?w))
    (nurse (ward ?w) (name ?n))
    =>
    (printout t "roster " ?w " " ?n crlf))
(printout t "-- bo leaves" crlf)
(retract 4)
(printout t "-- W1 closes" crlf)
(retract 1)
(printout t "-- nobody and eve leave" crlf)
(retract 6 7)
(printout t "-- dan arrives" crlf)
(assert (patient (name dan) (age 65)))
(run)
(unwatch activations)
(printout t "-- after the run" crlf)
(agenda)
(facts)
