; Text printed to a stream after it was closed, or to a name never opened, is not dropped as if
; it had been written: the error names the logical name.
(open "printout-closed.tmp" out "w")
(printout out "kept" crlf)
(close out)
(try (printout out "lost" crlf) catch (printout t ?__ERROR crlf))
(try (format never "%d%n" 1) catch (printout t ?__ERROR crlf))
(open "printout-closed.tmp" in "r")
(printout t (readline in) crlf)
(close in)
(remove "printout-closed.tmp")
(printout out "the batch stops here" crlf)
(printout t "never printed" crlf)
