; Car diagnosis by backward chaining over two levels of goals: advice needs a finding, a finding
; needs readings, and a reading is asked for only when some finding needs it.
(deftemplate reading (slot name) (slot value))
(deftemplate finding (slot name) (slot value))
(deftemplate observed (slot name) (slot value))
(do-backward-chaining reading finding)
(defrule advise-battery
    (finding (name battery) (value flat))
    =>
    (printout t "advice: charge or replace the battery" crlf))
(defrule advise-starter
    (finding (name starter) (value faulty))
    =>
    (printout t "advice: replace the starter motor" crlf))
(defrule battery-flat
    (need-finding (name battery) (value flat))
    (reading (name lights) (value dim))
    =>
    (assert (finding (name battery) (value flat))))
(defrule starter-faulty
    (need-finding (name starter) (value faulty))
    (reading (name cranks) (value no))
    (reading (name lights) (value bright))
    =>
    (assert (finding (name starter) (value faulty))))
(defrule ask
    (need-reading (name ?n))
    (observed (name ?n) (value ?v))
    =>
    (printout t "asked about " ?n ": " ?v crlf)
    (assert (reading (name ?n) (value ?v))))
(defrule unanswered
    (declare (salience -10))
    (need-reading (name ?n))
    (not (reading (name ?n)))
    =>
    (printout t "no answer about " ?n crlf))
(deffacts car
    (observed (name lights) (value dim))
    (observed (name fuel) (value full)))
(reset)
(run)
(deffacts car
    (observed (name lights) (value bright))
    (observed (name cranks) (value no)))
(reset)
(run)
