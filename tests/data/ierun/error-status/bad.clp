(printout t "first" crlf)
(no-such-function 1 2)
(printout t "not reached" crlf)
