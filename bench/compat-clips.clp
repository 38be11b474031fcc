;;; Loaded into the CLIPS yardstick only, before a program that calls atan2 with the point's x
;;; first (this engine's argument order). CLIPS 6.30 has no atan2 of its own.
(deffunction atan2 (?x ?y)
    (if (= ?x 0)
     then (if (> ?y 0) then (/ (pi) 2) else (if (< ?y 0) then (- 0 (/ (pi) 2)) else 0.0))
     else (bind ?a (atan (/ ?y ?x)))
          (if (< ?x 0) then (if (< ?y 0) then (- ?a (pi)) else (+ ?a (pi))) else ?a)))
