; A deffunction that calls itself holds calls bound to itself in its own body; the sanitizer
; build reports a leak if that cycle is not broken when the engine lets the function go.
(deffunction fact (?n) (if (<= ?n 1) then 1 else (* ?n (fact (- ?n 1)))))
(fact 5)
; Deep recursion runs; endless recursion is refused instead of exhausting the stack.
(deffunction down (?n) (if (> ?n 0) then (down (- ?n 1)) else done))
(down 500)
(deffunction forever () (forever))
(try (forever) catch (printout t ?__ERROR crlf))
