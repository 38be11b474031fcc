; Water jugs: a 4-litre and a 3-litre jug, a tap and a drain; get exactly 2 litres into the
; 4-litre jug. A breadth-first search: every state remembers the state it was reached from by
; that state's fact address, the open states are kept as (open <address> <depth>), and the path
; is rebuilt by following the addresses back from the goal, each state joined with its parent
; through the address (?p <- (state ...) ?s <- (state (parent ?p))).
(clear)
(deftemplate state (slot four) (slot three) (slot depth) (slot parent) (slot move))
(deftemplate path (multislot moves) (slot at))
(deffunction pour (?from ?room) (min ?from ?room))
(defrule start
  =>
  (assert (open (assert (state (four 0) (three 0) (depth 0) (parent none) (move start))) 0)))
(defrule expand
  ?s <- (state (four ?f) (three ?t) (depth ?d))
  ?o <- (open ?s ?d)
  (not (open ? ?e&:(< ?e ?d)))
  (not (state (four 2)))
  =>
  (retract ?o)
  (bind ?p (pour ?f (- 3 ?t)))
  (bind ?q (pour ?t (- 4 ?f)))
  (assert (candidate 4 ?t (+ ?d 1) ?s fill-four)
          (candidate ?f 3 (+ ?d 1) ?s fill-three)
          (candidate 0 ?t (+ ?d 1) ?s empty-four)
          (candidate ?f 0 (+ ?d 1) ?s empty-three)
          (candidate (- ?f ?p) (+ ?t ?p) (+ ?d 1) ?s four-to-three)
          (candidate (+ ?f ?q) (- ?t ?q) (+ ?d 1) ?s three-to-four)))
(defrule keep-new
  (declare (salience 20))
  ?c <- (candidate ?f ?t ?d ?s ?move)
  (not (state (four ?f) (three ?t)))
  =>
  (retract ?c)
  (assert (open (assert (state (four ?f) (three ?t) (depth ?d) (parent ?s) (move ?move))) ?d)))
(defrule drop-seen
  (declare (salience 20))
  ?c <- (candidate ?f ?t ?d ?s ?move)
  (state (four ?f) (three ?t))
  =>
  (retract ?c))
(defrule found
  (declare (salience 30))
  ?g <- (state (four 2) (move ?m))
  (not (path))
  =>
  (assert (path (moves ?m) (at ?g))))
(defrule back
  (declare (salience 30))
  ?p <- (state (move ?m) (parent ~none))
  ?s <- (state (parent ?p))
  ?path <- (path (moves $?moves) (at ?s))
  =>
  (modify ?path (moves ?m ?moves) (at ?p)))
(defrule done
  (declare (salience 25))
  ?s <- (state (parent none))
  ?first <- (state (parent ?s))
  (path (moves $?moves) (at ?first))
  =>
  (printout t "2 litres in " (length$ ?moves) " moves: " (implode$ ?moves) crlf))
(reset)
(run)
