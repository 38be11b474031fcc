; An error raised while a rule fires names the rule, so that the user knows which rule to open.
; Here it fires inside the run that another rule's action started: the error names the rule at
; fault, not the one around it.
(deffacts load (budget 5))
(defrule share
  (share ?total ?parts)
  =>
  (printout t "share " (/ ?total ?parts) crlf))
(defrule outer
  (budget ?b)
  =>
  (printout t "budget " ?b crlf)
  (assert (share ?b 0))
  (run)
  (printout t "not printed" crlf))
(reset)
(run)
(printout t "not printed either" crlf)
