; A goal rule fires while no fact of the template its goal asks for matches, and stops being
; pursued once one does.
(deftemplate fact-x (slot v))
(do-backward-chaining fact-x)
(defrule use (fact-x (v 5)) => (printout t "use fired" crlf))
(defrule supply (need-fact-x (v ?v)) => (printout t "supply " ?v crlf) (assert (fact-x (v ?v))))
(watch activations)
(reset)
(run)
(unwatch activations)
(ppdefrule supply)
