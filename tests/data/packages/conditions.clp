; Conditions as rules, test elements and control forms read them: comparisons nested in and and
; not, predicate constraints that call deffunctions, and functions removed while they run.
(deffunction odd (?n) (= (mod ?n 2) 1))
(deffunction between (?lo ?x ?hi) (and (<= ?lo ?x) (< ?x ?hi)))
(deftemplate n (slot v))
(deffacts numbers (n (v 1)) (n (v 2)) (n (v 3)) (n (v 4)) (n (v 5)) (n (v 6)))
(defglobal ?*pairs* = 0 ?*middle* = 0)
; An odd and a greater even number whose sum is not 7: (1 2) (1 4) (3 6) (5 6).
(defrule pair
    (n (v ?a&:(odd ?a)))
    (n (v ?b&:(> ?b ?a)&:(not (odd ?b))))
    (test (not (= (+ ?a ?b) 7)))
    =>
    (bind ?*pairs* (+ ?*pairs* 1)))
; 2, 3 and 4 lie in [2, 5).
(defrule middle
    (n (v ?x&:(between 2 ?x 5)))
    =>
    (bind ?*middle* (+ ?*middle* ?x)))
(reset)
(run)
?*pairs*
?*middle*
(if (and (> 3 2) (not (< 3 2))) then yes else no)
(if (and (> 3 2) (< 3 2)) then yes else no)
(if (> 3 2 1) then yes else no)
(if (eq a a) then yes else no)
(if (neq a a) then yes else no)
(not (> 1 2))
(not (and (> 2 1) FALSE))
(and (> 2 1) 0)
(and (> 2 1) (+ 1 2))
(not 7)
(between 1 1 2)
(between 1 2 2)
; A deffunction that removes itself still finishes its call.
(deffunction gone () (undeffunction gone) done)
(if (eq (gone) done) then finished else lost)
; undeffunction removing itself while it runs.
(undeffunction undeffunction)
(> 2 1)
; Both are gone now.
(gone)
