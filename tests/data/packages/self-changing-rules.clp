; A one-time setup rule removes itself while it fires; a task scheduler runs the tasks by
; priority; a phase rule swaps in the report rule by redefining it from its own actions.
(deftemplate task (slot name) (slot prio (type INTEGER)) (slot state (default todo)))
(deffacts tasks
  (task (name build) (prio 2))
  (task (name test) (prio 1))
  (task (name deploy) (prio 0)))
(defrule setup
  =>
  (undefrule setup)
  (printout t "setup done" crlf)
  (assert (phase run)))
(defrule pick
  (phase run)
  ?t <- (task (name ?n) (prio ?p) (state todo))
  (not (task (prio ?q&:(> ?q ?p)) (state todo)))
  =>
  (modify ?t (state done))
  (printout t "run " ?n crlf))
(defrule finish
  ?f <- (phase run)
  (not (task (state todo)))
  =>
  (retract ?f)
  (parse "(defrule finish (phase report) => (printout t \"report: all tasks done\" crlf))")
  (printout t "switching to report" crlf)
  (assert (phase report)))
(reset)
(run)
(reset)
(run)
