; printout and format build their whole text before writing it, so output written while their
; arguments are evaluated comes first and no text of the outer call is lost.
(deffunction f () (printout t "[in-f]") 1)
(printout t "A" (f) "B" (f) "C" crlf)
(deffunction g (?n) (format t "<%d>" ?n) (* ?n 10))
(format t "X%dY%dZ%n" (g 1) (g 2))
(printout t "outer " (printout t "inner") " end" crlf)
(deffunction depth (?n) (if (> ?n 0) then (printout t "(" (depth (- ?n 1)) ")") ?n else 0))
(depth 3)
(printout t crlf)
