(load "rules.clp")
(load "family.clp")
(reset)
(assert (query (read)))
dan
(run)
(printout t "next query: " (assert (query (read))) crlf)
abe other words
(run)
