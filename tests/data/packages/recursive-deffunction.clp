; A deffunction that calls itself holds calls bound to itself in its own body; the sanitizer
; build reports a leak if that cycle is not broken when the engine lets the function go.
(deffunction fact (?n) (if (<= ?n 1) then 1 else (* ?n (fact (- ?n 1)))))
(fact 5)
