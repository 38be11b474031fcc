; A round robin of four teams. A team sits out every game in which it is neither the home nor
; the away side, and plays away where it is the away side but not the home side: each team
; plays three games, sits out three, and the six games have six away sides.
(clear)
(defglobal ?*aways* = 0 ?*hosts* = "")
(deftemplate tally (slot team) (slot rests (default 0)))
(deffacts round
  (team ant) (team bee) (team cat) (team dog)
  (tally (team ant)) (tally (team bee)) (tally (team cat)) (tally (team dog))
  (game 1 ant bee) (game 2 cat dog) (game 3 ant cat)
  (game 4 bee dog) (game 5 ant dog) (game 6 bee cat))
(defrule sits-out (declare (salience 1)) (team ?t) (game ?g ~?t ~?t)
  => (assert (rest ?t ?g)))
(defrule count-rest ?r <- (rest ?t ?) ?c <- (tally (team ?t) (rests ?n))
  => (retract ?r) (modify ?c (rests (+ ?n 1))))
(defrule plays-away (declare (salience 1)) (team ?t) (game ? ~?t ?t)
  => (bind ?*aways* (+ ?*aways* 1)))
; Each firing reads its own match, whatever the firing before it bound.
(defrule hosts (declare (salience -2)) (game ?g ?h ?)
  => (bind ?h (sym-cat ?h ?g)) (bind ?seen ?h) (bind ?*hosts* (str-cat ?*hosts* " " ?seen)))
; The fact address a firing bound, kept past the firing, stays the address it was.
(defglobal ?*first-game* = nil)
(defrule first-game (declare (salience -3)) ?g <- (game $?)
  => (if (eq ?*first-game* nil) then (bind ?*first-game* ?g)))
(defrule report (declare (salience -1)) (tally (team ?t) (rests ?n))
  => (printout t ?t " rests " ?n crlf))
(reset)
(run)
(printout t "away games " ?*aways* crlf)
(printout t "hosts" ?*hosts* crlf)
(printout t "first game " ?*first-game* crlf)
