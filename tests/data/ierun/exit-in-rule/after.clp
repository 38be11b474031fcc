(printout t "never loaded" crlf)
