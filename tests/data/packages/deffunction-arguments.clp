; Arguments are evaluated where the call is written, before the callee binds its parameters, so
; a parameter named like a variable of the caller does not shadow it.
(deffunction show (?p1 ?p2) (create$ ?p1 ?p2))
(deffunction swap (?p1 ?p2) (show ?p2 ?p1))
(swap a b)
(deffunction inner (?a ?b) (- ?b ?a))
(deffunction outer (?x ?a) (inner ?x ?a))
(outer 1 10)
; Calls of the function inside its own arguments, each with a frame of its own.
(inner (inner 1 50) (inner 2 (inner 3 13)))
(deffunction rotate (?a ?b ?c) (create$ ?a ?b ?c))
(deffunction rotate-left (?a ?b ?c) (rotate ?b ?c ?a))
(rotate-left 1 2 3)
(deffunction gather (?first $?rest) (+ ?first (* 100 (nth$ 0 ?rest))))
(deffunction regather (?first $?rest) (gather (length$ ?rest) ?first))
(regather 7 y z)
(deffunction fib (?n) (if (< ?n 2) then ?n else (+ (fib (- ?n 1)) (fib (- ?n 2)))))
(fib 15)
; One if runs either of its parts call after call; atan, rad-deg, round and integer hand their
; numbers to the enclosing call.
(deffunction sign (?x) (if (< ?x 0) then neg else (if (= ?x 0) then zero else pos)))
(create$ (sign -2) (sign 0) (sign 3) (sign -1) (sign 5) (sign 0))
(deffunction angle (?dx ?dy) (integer (round (* 100 (rad-deg (atan (/ ?dy ?dx)))))))
(create$ (angle 1 1) (angle 3 -1) (angle 2 7) (integer -2.7) (round 2.5) (atan 1) (+ 1 (integer 2)))
; A deffunction's own variables: a variable its body binds is bound from its first bind in each
; call (an earlier call's value is gone), every level of a recursion has its own, a bind of a
; global (even one defined while the call runs) sets the global, and loop variables bind beside.
(deffunction seen (?first) (if (eq ?first yes) then (bind ?mark here)) ?mark)
(seen yes)
(try (seen no) catch (printout t ?__ERROR crlf))
(deffunction levels (?n) (bind ?here (* ?n 10)) (if (> ?n 0) then (bind ?below (levels (- ?n 1))) else (bind ?below 0)) (+ ?here ?below))
(levels 3)
(defglobal ?*hits* = 0)
(deffunction hit ($?xs) (bind ?sum 0) (foreach e ?xs (bind ?sum (+ ?sum ?e)) (bind ?*hits* (+ ?*hits* 1))) (return ?sum) never)
(hit 1 2 3)
(hit 4)
?*hits*
(deffunction late () (bind ?*late* 1) (parse "(defglobal ?*late* = 2)") (bind ?*late* (+ ?*late* 5)) ?*late*)
(late)
?*late*
(late)
(deffunction later () (parse "(defglobal ?*later* = 2)") (bind ?*later* (+ ?*later* 5)) ?*later*)
(later)
?*later*
(deffunction pick (?c ?k) (if ?c then 1 ?k 2.5 else (bind ?r no) ?r))
(pick TRUE else)
(pick TRUE x)
(pick FALSE x)
(pick TRUE else)
(pick TRUE (sym-cat el se))
