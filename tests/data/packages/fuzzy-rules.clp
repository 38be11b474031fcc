; Fuzzy rules end to end: a fan controller. A room's temperature is a fuzzy set; each rule whose
; pattern names a temperature term is activated with the degree to which the reading matches that
; term, activations below the activation threshold are dropped, every conclusion is scaled by its
; rule's strength (product correlation), and the conclusions about the fan are merged into one
; fact by the union of their sets (min-max inference), which is then defuzzified.
(deftype temperature extends (type FUZZY) (range 0 100)
    (values (term cold ((0 1) (50 0)))
            (term warm ((25 0) (50 1) (75 0)))
            (term hot ((50 0) (100 1)))))
(deftype fan-speed extends (type FUZZY) (range 0 10)
    (values (term slow ((0 1) (10 0))) (term fast ((0 0) (10 1)))))
(deftemplate room (slot t (type temperature)))
(deftemplate fan (slot speed (type fan-speed)))
(defrule hot-fast (declare (salience 10)) (room (t hot)) => (assert (fan (speed fast))))
(defrule very-hot-fast (declare (salience 5)) (room (t very hot))
    => (assert (fan (speed very fast))))
(defrule warm-slow (room (t warm)) => (assert (fan (speed slow))))
(defrule cold-slow (room (t cold)) => (assert (fan (speed slow))))
(set-fuzzy-correlation product)
(set-activation-threshold 0.35)
; About 70 degrees: hot to 0.5, warm to 3/7, very hot only to 11/37 (below the threshold), cold
; not at all.
(assert (room (t ((60 0) (70 1) (80 0)))))
(agenda)
(printout t crlf)
(run)
(get-slot-value 3 speed)
(get-fs 3)
(moment-defuzzify 3)
(maximum-defuzzify 3)
; A hedged reading: very hot matches hot and very hot fully, warm only to 3/17.
(reset)
(assert (room (t very hot)))
(agenda)
(printout t crlf)
(run)
(get-slot-value 3 speed)
(moment-defuzzify 3)
(maximum-defuzzify 3)
(facts)
