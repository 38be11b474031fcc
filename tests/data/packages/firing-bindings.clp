; What a firing binds: the matched values, fresh for every firing. A variable bound at the top
; level is shadowed by a pattern variable of the same name, not overwritten; an action's bind
; changes the firing's own value; a name bound only by an earlier firing's action is unbound in
; the next one.
(bind ?x top)
(deftemplate pair (slot left) (multislot items))
(defrule shadow
    (n ?x)
    =>
    (printout t "matched " ?x)
    (bind ?x (* ?x 10))
    (printout t " rebound " ?x crlf))
(reset)
(assert (n 1) (n 2))
(run)
?x
; Fact addresses, multifield variables and elements of multislots read inside predicates and
; test elements, and variables compared across "|" alternatives.
(defrule split
    ?p <- (pair (left ?l) (items $?before ?i&:(> ?i ?l)|:(eq ?i ?l) $?after))
    ?q <- (n ?k&:(<= ?k (length$ $?before))|:(= ?k 2))
    (test (neq ?p ?q))
    (test (>= (+ (length$ $?before) (length$ $?after)) ?k))
    =>
    (printout t "split " ?l " at " ?i " before " (length$ $?before) " after " $?after
              " with " ?k crlf))
(assert (pair (left 3) (items 1 3 5 2)))
(run)
(defrule leak
    (n ?k)
    =>
    (if (= ?k 2) then (bind ?only-first yes) else (printout t "second sees " ?only-first crlf))
    (printout t "leak " ?k crlf))
(run)
