; A rule that ends the shell: the rest of the run, the rest of this file and the files after it
; are not run, and the shell ends normally.
(deffacts countdown (count 3))
(defrule tick
  ?f <- (count ?n&:(> ?n 0))
  =>
  (printout t "tick " ?n crlf)
  (retract ?f)
  (assert (count (- ?n 1))))
(defrule stop
  (count 0)
  =>
  (printout t "stopping" crlf)
  (exit)
  (printout t "not printed" crlf))
(reset)
(run)
(printout t "not printed either" crlf)
