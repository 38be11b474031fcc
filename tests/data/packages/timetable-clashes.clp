; Timetable checker. Every lesson has a teacher and may have an assistant; a person cannot be in
; two lessons of one period, and a lesson is staffed only when neither of its two staff is absent.
(deftemplate lesson (slot id) (slot teacher) (slot assistant (default none)) (slot period))
(deftemplate absence (slot who) (slot period))
(defglobal ?*clashes* = 0)
(defrule teacher-clash
    (lesson (id ?i) (teacher ?a) (assistant ?b) (period ?t))
    (lesson (id ?j&:(> ?j ?i)) (period ?t) (teacher ?a|?b))
    =>
    (bind ?*clashes* (+ ?*clashes* 1))
    (printout t "clash: lessons " ?i " and " ?j " share a teacher in " ?t crlf))
(defrule assistant-clash
    (lesson (id ?i) (teacher ?a) (assistant ?b) (period ?t))
    (lesson (id ?j&:(> ?j ?i)) (period ?t) (assistant ?a|?b&~none))
    =>
    (bind ?*clashes* (+ ?*clashes* 1))
    (printout t "clash: lessons " ?i " and " ?j " share an assistant in " ?t crlf))
(defrule staffed
    (lesson (id ?i) (teacher ?a) (assistant ?b) (period ?t))
    (not (absence (who ?a|?b) (period ?t)))
    =>
    (printout t "lesson " ?i " is staffed" crlf))
(defrule summary
    (declare (salience -10))
    =>
    (printout t ?*clashes* " clashes" crlf))
(deffacts week
    (lesson (id 1) (teacher smith) (assistant jones) (period p1))
    (lesson (id 2) (teacher brown) (period p1))
    (lesson (id 3) (teacher jones) (period p1))
    (lesson (id 4) (teacher smith) (period p2))
    (lesson (id 5) (teacher green) (assistant smith) (period p2))
    (lesson (id 6) (teacher brown) (period p2))
    (lesson (id 7) (teacher brown) (assistant green) (period p3))
    (lesson (id 8) (teacher white) (period p3))
    (absence (who jones) (period p1))
    (absence (who green) (period p2))
    (absence (who white) (period p3)))
(reset)
(run)
