; Machine scheduler check: tasks hold a machine over [start, end). Predicates and test elements
; compare values across several patterns; a deffunction whose parameters share the rule's
; variable names must read its own arguments; an action that rebinds a pattern variable changes
; it for the rest of that firing only.
(deftemplate task (slot id) (slot machine) (slot start) (slot end))
(defglobal ?*clashes* = 0 ?*overlap* = 0 ?*idle* = 0)
; The parameters are named as the rule's variables but called in the other order: (later ?s2 ?s)
; asks whether the second task starts after the first.
(deffunction later (?s ?s2) (> ?s ?s2))
(deffunction overlap (?s ?e ?s2 ?e2) (- (min ?e ?e2) (max ?s ?s2)))
(defrule clash
    (task (id ?a) (machine ?m) (start ?s) (end ?e))
    (task (id ?b&~?a) (machine ?m) (start ?s2&:(later ?s2 ?s)|:(and (= ?s2 ?s) (> ?b ?a)))
          (end ?e2))
    (test (> (overlap ?s ?e ?s2 ?e2) 0))
    =>
    (bind ?*clashes* (+ ?*clashes* 1))
    (bind ?*overlap* (+ ?*overlap* (overlap ?s ?e ?s2 ?e2)))
    (printout t "clash " ?a " " ?b " on " ?m " for " (overlap ?s ?e ?s2 ?e2) crlf))
; A gap: a task followed on its machine by a later one with no task starting in between.
(defrule gap
    (task (id ?a) (machine ?m) (end ?e))
    (task (id ?b) (machine ?m) (start ?s&:(> ?s ?e)))
    (not (task (machine ?m) (start ?x&:(>= ?x ?e)&:(< ?x ?s))))
    =>
    (bind ?s (- ?s ?e))
    (bind ?*idle* (+ ?*idle* ?s))
    (printout t "gap " ?a " " ?b " on " ?m " of " ?s crlf))
; Every machine with a task on it that no other task on it precedes.
(defrule first-task
    (task (id ?a) (machine ?m) (start ?s))
    (not (task (machine ?m) (start ?t&:(< ?t ?s))))
    (exists (task (machine ?m) (id ~?a) (start ?u&:(>= ?u ?s))))
    =>
    (printout t "first on " ?m " is " ?a crlf))
(defrule summary
    (declare (salience -10))
    =>
    (printout t ?*clashes* " clashes, " ?*overlap* " overlapping, " ?*idle* " idle" crlf))
(deffacts plan
    (task (id 1) (machine lathe) (start 0) (end 4))
    (task (id 2) (machine lathe) (start 3) (end 6))
    (task (id 3) (machine lathe) (start 8) (end 9))
    (task (id 4) (machine mill) (start 0) (end 5))
    (task (id 5) (machine mill) (start 0) (end 2))
    (task (id 6) (machine mill) (start 7) (end 10))
    (task (id 7) (machine drill) (start 2) (end 3)))
(reset)
(run)
(clear)
; Comparisons of numbers in join predicates and test elements answered in place: integers and
; floats mixed, literals, chains, and a value that is no number (the comparison's error).
(deftemplate m (slot id) (slot v) (slot w))
(defrule above
    (m (id ?a) (v ?x))
    (m (id ?b) (v ?y&:(> ?y ?x 0)))
    =>
    (printout t "above " ?a " " ?b crlf))
(defrule same
    (m (id ?a) (v ?x))
    (m (id ?b&:(> ?b ?a)) (v ?y&:(= ?y ?x)))
    =>
    (printout t "same " ?a " " ?b crlf))
(defrule apart
    (m (id ?a) (v ?x) (w ?p))
    (m (id ?b&:(< ?a ?b)) (v ?y) (w ?q))
    (test (and (or (<> ?x ?y 2) (>= ?p ?q)) (> ?x 1.5)))
    =>
    (printout t "apart " ?a " " ?b crlf))
(deffacts data
    (m (id 1) (v 1) (w 2.5))
    (m (id 2) (v 1.0) (w 3))
    (m (id 3) (v 2) (w 3.0))
    (m (id 4) (v 2.5) (w -1))
    (m (id 5) (v -0.0) (w 0)))
(reset)
(run)
; The error ends the script: a symbol where the comparisons read a number.
(assert (m (id 6) (v high) (w 1)))
