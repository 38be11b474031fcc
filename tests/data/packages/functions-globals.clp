; Deffunctions (parameters, multifield parameter, return, recursion, counts) and defglobals
; (definitions, bind, reset with and without set-reset-globals).
(deffunction add1 (?a) (+ ?a 1))
(add1 4)
(deffunction rest-of (?a $?rest) ?rest)
(rest-of 1 2 3)
(length$ (rest-of 1))
(deffunction sign (?x) (if (> ?x 0) then (return pos)) neg)
(sign 1)
(sign -1)
(defglobal ?*x* = 5 ?*y* = (+ 1 2))
?*x*
?*y*
(bind ?*x* 7)
?*x*
(reset)
?*x*
(bind ?*x* 8)
(set-reset-globals)
(set-reset-globals FALSE)
(set-reset-globals)
(reset)
?*x*
(set-reset-globals TRUE)
(reset)
?*x*
(defrule use-global (go) => (printout t "global is " ?*y* crlf))
(assert (go))
(run)
; A global read and bound by rules, by a deffunction they call and at the top level; a rule's
; pattern variable of the name a top-level variable has reads its own.
(defglobal ?*n* = 0)
(deffunction bump (?k) (bind ?*n* (+ ?*n* ?k)) ?*n*)
(defrule count (tick ?k) => (bind ?*n* (+ ?*n* 1)) (printout t "n " (bump ?k) crlf))
(bind ?v 5)
(defrule own (tick ?v) => (printout t "own " ?v " n " ?*n* crlf))
(assert (tick 10) (tick 20) (tick 30))
(run)
(bump 100)
?v
(clear)
(try (add1 1) catch (printout t "add1 is gone" crlf))
(printout t "printout survives clear" crlf)
