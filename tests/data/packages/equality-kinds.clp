; eq, neq and member$ tell the kinds apart: a symbol never equals the string of its text, an
; integer never equals the float of its value, while = compares numbers alone.
(eq abc abc)
(eq abc "abc")
(eq "abc" "abc")
(eq 1 1)
(eq 1 1.0)
(eq 1.0 1.0)
(eq -0.0 0.0)
(eq abc ABC)
(eq (sym-cat a bc) abc)
(eq (str-cat a bc) abc)
(eq (str-cat a bc) "abc")
(eq (+ 1 1) 2 (- 3 1))
(eq (+ 1 1) 2 2.0)
(neq abc "abc")
(neq abc abc)
(neq 1 1.0 "1" |1|)
(neq 1 2 1)
(eq (create$ a 1) (create$ a 1))
(eq (create$ a 1) (create$ a 1.0))
(eq* 1 1.0)
(= 1 1.0)
(member$ abc (create$ "abc" abc))
(member$ "abc" (create$ abc "abc"))
(member$ 1 (create$ 1.0 "1" 1))
(member$ 1.0 (create$ 1 1.0))
(member$ 2 (create$ 1 (+ 1 1) 3))
(member$ x (create$ a b c))
(member$ x (create$))
(if (member$ 1 (create$ 1.0 "1")) then found else absent)
(if (not (member$ 1.0 (create$ 1 1.0))) then absent else found)
(member$ (+ 1 1) (create$ 2.0 2))
(member$ (- 0 1) (create$ -1.0 "-1"))
(* 1.0 (* 0 -1))
(length$ (create$ a (create$ b c) d))
(nth$ 1 (create$ a "a" 1))
(nth$ 2 (create$ a "a" 1))
(subseq$ (create$ a b c d) 2 3)
(deftemplate tag (slot name) (slot n))
(deffacts tags
    (tag (name red) (n 1))
    (tag (name "red") (n 1.0))
    (tag (name RED) (n 2))
    (tag (name red) (n 2.0)))
(defrule symbol-red
    (tag (name red) (n ?n))
    =>
    (printout t "symbol red " ?n crlf))
(defrule string-red
    (tag (name "red") (n ?n))
    =>
    (printout t "string red " ?n crlf))
(defrule integer-one
    (tag (name ?name) (n 1))
    =>
    (printout t "integer one " ?name crlf))
(defrule float-two
    (tag (name ?name) (n 2.0))
    =>
    (printout t "float two " ?name crlf))
(defrule symbol-RED
    (tag (name RED) (n ?n))
    =>
    (printout t "symbol RED " ?n crlf))
(defrule float-one
    (tag (name ?name) (n 1.0))
    =>
    (printout t "float one " ?name crlf))
(defrule same-name-other-kind
    (tag (name ?a) (n ?x))
    (tag (name ?b&:(eq* ?a ?b)&:(neq ?a ?b)) (n ?y))
    =>
    (printout t "same text " ?a " " ?x " / " ?b " " ?y crlf))
(defrule equal-number-other-kind
    (tag (name ?a) (n ?x))
    (tag (name ?b) (n ?y&:(= ?x ?y)&:(neq ?x ?y)))
    =>
    (printout t "same number " ?a " " ?x " / " ?b " " ?y crlf))
(reset)
(run)
