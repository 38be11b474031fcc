; Minimum correlation clips a conclusion at the rule's strength: every point of the term stays,
; its grade lowered to the strength where it is above it, and the points where the set crosses
; the strength are added; nothing is merged. fast is (s 5 8), 7 points; a reading of 75 on the
; rising term gives the strength 0.5, so the conclusion keeps 7 points, the last four at 0.5,
; and the mean of maxima is that of those four points' x: (6.5 + 7 + 7.5 + 8) / 4 = 7.25.
(deftype speed extends (type FUZZY) (range 0 10) (values (term fast (s 5 8)) (term slow (z 2 5))))
(deftype level extends (type FUZZY) (range 0 100) (values (term rising ((50 0) (100 1)))))
(deftemplate reading (slot v (type level)))
(deftemplate go (slot v (type speed)))
(defrule conclude (reading (v rising)) => (assert (go (v fast))))
(set-activation-threshold 0)
(set-fuzzy-correlation minimum)
(reset)
(assert (reading (v ((75 0) (75 1) (75 0)))))
(run)
(get-fs 2)
(get-fs-length 2)
(get-fs-y 2 5)
(get-fs-y 2 6)
(maximum-defuzzify 2)
; The slow term, (z 2 5), clipped at 0.5: its three points above 0.5 are lowered to it, and
; the point where it crosses 0.5, (3.5 0.5), is one of its own already.
(deftemplate ease (slot v (type speed)))
(undefrule conclude)
(defrule slowly (reading (v rising)) => (assert (ease (v slow))))
(reset)
(assert (reading (v ((75 0) (75 1) (75 0)))))
(run)
(get-fs 2)
(get-fs-length 2)
(maximum-defuzzify 2)
