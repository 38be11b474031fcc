;;; Waltz line labelling in the classic style: edges keep their end points only, and the angles
;;; that type the junctions and steer the outline walk are computed by deffunctions inside the
;;; join constraints, as the classic benchmark formulations do. Labels are + (convex), -
;;; (concave), > and < (occluding, the hiding body to the right or left of the edge's direction).
;;;
;;; Input facts (made by ../waltz/gen-waltz.sh): (point (id) (x) (y)) and (line (p1) (p2)) with
;;; integer coordinates, and (stage (name start)). Prints "RESULT EDGES PLUS MINUS GREATER LESS":
;;; the directed edges and how many carry each label.

(defglobal ?*edges* = 0 ?*plus* = 0 ?*minus* = 0 ?*greater* = 0 ?*less* = 0)

;; Direction of the edge from (x1, y1) to (x2, y2): integral hundredths of a degree in
;; [0, 36000), counterclockwise from the x axis.
(deffunction direction (?x1 ?y1 ?x2 ?y2)
    (bind ?dx (- ?x2 ?x1))
    (bind ?dy (- ?y2 ?y1))
    (if (= ?dx 0)
     then (if (> ?dy 0) then 9000 else 27000)
     else (bind ?a (integer (round (* 100 (rad-deg (atan (/ ?dy ?dx)))))))
          (if (< ?dx 0) then (+ ?a 18000) else (if (< ?a 0) then (+ ?a 36000) else ?a))))

;; How far clockwise the direction ?a lies from ?back.
(deffunction clockwise (?back ?a)
    (mod (- (+ ?back 36000) ?a) 36000))

;; Whether a direction points right of the vertical (or straight up): no edge of a leftmost
;; lowest point leaves towards smaller x.
(deffunction rightwards (?a)
    (or (<= ?a 9000) (> ?a 27000)))

(deftemplate stage (slot name))
(deftemplate point (slot id) (slot x) (slot y))
(deftemplate line (slot p1) (slot p2))
;; A directed edge from p1 (at x1, y1) to p2 (at x2, y2); label is none until it is known.
(deftemplate edge (slot p1) (slot p2) (slot x1) (slot y1) (slot x2) (slot y2) (slot label))
;; A junction at base with its edges a1 a2 a3 (a3 none for an L):
;;   L      a1 then a2, the angle between them (< 180 degrees) counterclockwise from a1;
;;   arrow  barb, shaft, barb counterclockwise, the shaft inside the angle of the barbs;
;;   fork   counterclockwise;
;;   tee    bar, stem, bar counterclockwise.
;; extreme: no edge leaves towards smaller x (or straight down): the leftmost lowest point of a
;; drawing is such a junction. state: open until the outline walk starts at it (or all its edges
;; are labelled). done: a catalogue rule labelled it.
(deftemplate junction
    (slot base) (slot type) (slot a1) (slot a2) (slot a3) (slot x) (slot y)
    (slot extreme) (slot state) (slot done))
;; The catalogue entry (l1 l2 l3) of a junction type is the only one with this label at pos.
(deftemplate key (slot type) (slot pos) (slot label) (slot l1) (slot l2) (slot l3))
;; The outline walk: standing at `at`, having arrived from `from` whose direction is `back`.
(deftemplate walk (slot start) (slot from) (slot at) (slot back))

;;; The junction catalogue, as far as one known label picks one labelling.
;;;   L      (< >) (> <) (- >) (< -) (+ <) (> +)
;;;   arrow  (< + >) (+ - +) (- + -)
;;;   fork   (+ + +) (- - -) (- > <) (< - >) (> < -)
;;;   tee    (> s <) for any label s of the stem
(deffacts catalogue
    (key (type L) (pos 1) (label -) (l1 -) (l2 >) (l3 none))
    (key (type L) (pos 1) (label +) (l1 +) (l2 <) (l3 none))
    (key (type L) (pos 2) (label -) (l1 <) (l2 -) (l3 none))
    (key (type L) (pos 2) (label +) (l1 >) (l2 +) (l3 none))
    (key (type arrow) (pos 1) (label <) (l1 <) (l2 +) (l3 >))
    (key (type arrow) (pos 1) (label +) (l1 +) (l2 -) (l3 +))
    (key (type arrow) (pos 1) (label -) (l1 -) (l2 +) (l3 -))
    (key (type arrow) (pos 2) (label -) (l1 +) (l2 -) (l3 +))
    (key (type arrow) (pos 3) (label >) (l1 <) (l2 +) (l3 >))
    (key (type arrow) (pos 3) (label +) (l1 +) (l2 -) (l3 +))
    (key (type arrow) (pos 3) (label -) (l1 -) (l2 +) (l3 -))
    (key (type fork) (pos 1) (label +) (l1 +) (l2 +) (l3 +))
    (key (type fork) (pos 2) (label +) (l1 +) (l2 +) (l3 +))
    (key (type fork) (pos 3) (label +) (l1 +) (l2 +) (l3 +))
    (key (type fork) (pos 1) (label >) (l1 >) (l2 <) (l3 -))
    (key (type fork) (pos 1) (label <) (l1 <) (l2 -) (l3 >))
    (key (type fork) (pos 2) (label >) (l1 -) (l2 >) (l3 <))
    (key (type fork) (pos 2) (label <) (l1 >) (l2 <) (l3 -))
    (key (type fork) (pos 3) (label >) (l1 <) (l2 -) (l3 >))
    (key (type fork) (pos 3) (label <) (l1 -) (l2 >) (l3 <)))

;;; --- begin ---

(defrule begin
    ?s <- (stage (name start))
    =>
    (modify ?s (name duplicate)))

;;; --- duplicate: two directed edges per line ---

(defrule reverse_edges
    (stage (name duplicate))
    ?l <- (line (p1 ?a) (p2 ?b))
    (point (id ?a) (x ?xa) (y ?ya))
    (point (id ?b) (x ?xb) (y ?yb))
    =>
    (assert (edge (p1 ?a) (p2 ?b) (x1 ?xa) (y1 ?ya) (x2 ?xb) (y2 ?yb) (label none)))
    (assert (edge (p1 ?b) (p2 ?a) (x1 ?xb) (y1 ?yb) (x2 ?xa) (y2 ?ya) (label none)))
    (retract ?l))

(defrule edges_done
    (declare (salience -10))
    ?s <- (stage (name duplicate))
    =>
    (modify ?s (name detect)))

;;; --- detect: junctions by angle geometry ---

;; Two edges, ?p before ?q counterclockwise from the x axis.
(defrule make_L
    (stage (name detect))
    (edge (p1 ?b) (p2 ?p) (x1 ?x) (y1 ?y) (x2 ?px) (y2 ?py))
    (edge (p1 ?b) (p2 ?q) (x2 ?qx) (y2 ?qy&:(> (direction ?x ?y ?qx ?qy)
                                                (direction ?x ?y ?px ?py))))
    (not (edge (p1 ?b) (p2 ~?p&~?q)))
    =>
    (bind ?ap (direction ?x ?y ?px ?py))
    (bind ?aq (direction ?x ?y ?qx ?qy))
    (bind ?extreme (and (rightwards ?ap) (rightwards ?aq)))
    (if (< (- ?aq ?ap) 18000)
     then (assert (junction (base ?b) (type L) (a1 ?p) (a2 ?q) (a3 none) (x ?x) (y ?y)
                            (extreme ?extreme) (state open) (done no)))
     else (assert (junction (base ?b) (type L) (a1 ?q) (a2 ?p) (a3 none) (x ?x) (y ?y)
                            (extreme ?extreme) (state open) (done no)))))

;; Three edges in counterclockwise order ?p ?q ?r. A gap of exactly 180 degrees between two
;; neighbours makes them the bar of a tee; a gap above 180 degrees makes an arrow whose barbs
;; border that gap; otherwise the edges spread as a fork.
(defrule make_3_junction
    (stage (name detect))
    (edge (p1 ?b) (p2 ?p) (x1 ?x) (y1 ?y) (x2 ?px) (y2 ?py))
    (edge (p1 ?b) (p2 ?q) (x2 ?qx) (y2 ?qy&:(> (direction ?x ?y ?qx ?qy)
                                                (direction ?x ?y ?px ?py))))
    (edge (p1 ?b) (p2 ?r) (x2 ?rx) (y2 ?ry&:(> (direction ?x ?y ?rx ?ry)
                                                (direction ?x ?y ?qx ?qy))))
    (not (edge (p1 ?b) (p2 ~?p&~?q&~?r)))
    =>
    (bind ?ap (direction ?x ?y ?px ?py))
    (bind ?aq (direction ?x ?y ?qx ?qy))
    (bind ?ar (direction ?x ?y ?rx ?ry))
    (bind ?g1 (- ?aq ?ap))
    (bind ?g2 (- ?ar ?aq))
    (bind ?g3 (- 36000 (- ?ar ?ap)))
    (bind ?extreme (and (rightwards ?ap) (rightwards ?aq) (rightwards ?ar)))
    (bind ?type fork) (bind ?o1 ?p) (bind ?o2 ?q) (bind ?o3 ?r)
    (if (= ?g1 18000) then (bind ?type tee) (bind ?o1 ?q) (bind ?o2 ?r) (bind ?o3 ?p)
     else (if (= ?g2 18000) then (bind ?type tee) (bind ?o1 ?r) (bind ?o2 ?p) (bind ?o3 ?q)
     else (if (= ?g3 18000) then (bind ?type tee)
     else (if (> ?g1 18000) then (bind ?type arrow) (bind ?o1 ?q) (bind ?o2 ?r) (bind ?o3 ?p)
     else (if (> ?g2 18000) then (bind ?type arrow) (bind ?o1 ?r) (bind ?o2 ?p) (bind ?o3 ?q)
     else (if (> ?g3 18000) then (bind ?type arrow)))))))
    (assert (junction (base ?b) (type ?type) (a1 ?o1) (a2 ?o2) (a3 ?o3) (x ?x) (y ?y)
                      (extreme ?extreme) (state open) (done no))))

(defrule junctions_done
    (declare (salience -10))
    ?s <- (stage (name detect))
    =>
    (modify ?s (name label)))

;;; --- label ---

;; An edge and its reverse carry the same line: a convex or concave label is the same both
;; ways, an occluding one turns round.
(defrule match_edge
    (declare (salience 20))
    (edge (p1 ?a) (p2 ?b) (label ?l&~none))
    ?r <- (edge (p1 ?b) (p2 ?a) (label none))
    =>
    (if (eq ?l >) then (modify ?r (label <))
     else (if (eq ?l <) then (modify ?r (label >))
     else (modify ?r (label ?l)))))

;; Junctions whose edges are all labelled need no outline walk.
(defrule close_junction
    ?j <- (junction (base ?b) (extreme TRUE) (state open))
    (not (edge (p1 ?b) (label none)))
    =>
    (modify ?j (state closed)))

;; The leftmost (then lowest) point of the unlabelled drawings starts an outline walk. It is an
;; extreme junction, so only those compete.
(defrule find_boundary
    (declare (salience -5))
    (stage (name label))
    ?j <- (junction (base ?b) (extreme TRUE) (state open) (x ?x) (y ?y))
    (not (junction (extreme TRUE) (state open) (x ?x2&:(< ?x2 ?x))))
    (not (junction (extreme TRUE) (state open) (x ?x) (y ?y2&:(< ?y2 ?y))))
    =>
    (modify ?j (state started))
    (assert (walk (start ?b) (from none) (at ?b) (back 18000))))

;; Walking the outline clockwise, the body on the right: the next outline edge is the first
;; edge met turning clockwise from the way back.
(defrule boundary_step
    (declare (salience 5))
    ?w <- (walk (start ?s) (from ?u) (at ?v) (back ?back))
    ?e <- (edge (p1 ?v) (p2 ?n&~?u) (x1 ?x) (y1 ?y) (x2 ?nx) (y2 ?ny) (label ?l))
    (not (edge (p1 ?v) (p2 ~?n&~?u) (x2 ?cx)
               (y2 ?cy&:(< (clockwise ?back (direction ?x ?y ?cx ?cy))
                           (clockwise ?back (direction ?x ?y ?nx ?ny))))))
    =>
    (if (eq ?l none) then (modify ?e (label >)))
    (if (eq ?n ?s)
     then (retract ?w)
     else (modify ?w (from ?v) (at ?n) (back (direction ?nx ?ny ?x ?y)))))

;; The catalogue: one known label that picks one labelling labels the junction's other edges.
(defrule label_L_1
    (declare (salience 10))
    ?j <- (junction (base ?b) (type L) (a1 ?p1) (a2 ?p2) (done no))
    (edge (p1 ?b) (p2 ?p1) (label ?l&~none))
    (key (type L) (pos 1) (label ?l) (l2 ?n2))
    ?e2 <- (edge (p1 ?b) (p2 ?p2) (label ?c2))
    =>
    (modify ?j (done yes))
    (if (eq ?c2 none) then (modify ?e2 (label ?n2))))

(defrule label_L_2
    (declare (salience 10))
    ?j <- (junction (base ?b) (type L) (a1 ?p1) (a2 ?p2) (done no))
    (edge (p1 ?b) (p2 ?p2) (label ?l&~none))
    (key (type L) (pos 2) (label ?l) (l1 ?n1))
    ?e1 <- (edge (p1 ?b) (p2 ?p1) (label ?c1))
    =>
    (modify ?j (done yes))
    (if (eq ?c1 none) then (modify ?e1 (label ?n1))))

(defrule label_3_1
    (declare (salience 10))
    ?j <- (junction (base ?b) (type ?t) (a1 ?p1) (a2 ?p2) (a3 ?p3) (done no))
    (edge (p1 ?b) (p2 ?p1) (label ?l&~none))
    (key (type ?t) (pos 1) (label ?l) (l2 ?n2) (l3 ?n3))
    ?e2 <- (edge (p1 ?b) (p2 ?p2) (label ?c2))
    ?e3 <- (edge (p1 ?b) (p2 ?p3) (label ?c3))
    =>
    (modify ?j (done yes))
    (if (eq ?c2 none) then (modify ?e2 (label ?n2)))
    (if (eq ?c3 none) then (modify ?e3 (label ?n3))))

(defrule label_3_2
    (declare (salience 10))
    ?j <- (junction (base ?b) (type ?t) (a1 ?p1) (a2 ?p2) (a3 ?p3) (done no))
    (edge (p1 ?b) (p2 ?p2) (label ?l&~none))
    (key (type ?t) (pos 2) (label ?l) (l1 ?n1) (l3 ?n3))
    ?e1 <- (edge (p1 ?b) (p2 ?p1) (label ?c1))
    ?e3 <- (edge (p1 ?b) (p2 ?p3) (label ?c3))
    =>
    (modify ?j (done yes))
    (if (eq ?c1 none) then (modify ?e1 (label ?n1)))
    (if (eq ?c3 none) then (modify ?e3 (label ?n3))))

(defrule label_3_3
    (declare (salience 10))
    ?j <- (junction (base ?b) (type ?t) (a1 ?p1) (a2 ?p2) (a3 ?p3) (done no))
    (edge (p1 ?b) (p2 ?p3) (label ?l&~none))
    (key (type ?t) (pos 3) (label ?l) (l1 ?n1) (l2 ?n2))
    ?e1 <- (edge (p1 ?b) (p2 ?p1) (label ?c1))
    ?e2 <- (edge (p1 ?b) (p2 ?p2) (label ?c2))
    =>
    (modify ?j (done yes))
    (if (eq ?c1 none) then (modify ?e1 (label ?n1)))
    (if (eq ?c2 none) then (modify ?e2 (label ?n2))))

;; The bar of a tee belongs to the body in front, which lies on the side away from the stem.
(defrule label_tee
    (declare (salience 10))
    ?j <- (junction (base ?b) (type tee) (a1 ?p1) (a3 ?p3) (done no))
    ?e1 <- (edge (p1 ?b) (p2 ?p1) (label ?c1))
    ?e3 <- (edge (p1 ?b) (p2 ?p3) (label ?c3))
    =>
    (modify ?j (done yes))
    (if (eq ?c1 none) then (modify ?e1 (label >)))
    (if (eq ?c3 none) then (modify ?e3 (label <))))

(defrule labelling_done
    (declare (salience -10))
    ?s <- (stage (name label))
    =>
    (modify ?s (name report)))

;;; --- report ---

(defrule count_edge
    (stage (name report))
    (edge (label ?l))
    =>
    (bind ?*edges* (+ ?*edges* 1))
    (if (eq ?l +) then (bind ?*plus* (+ ?*plus* 1)))
    (if (eq ?l -) then (bind ?*minus* (+ ?*minus* 1)))
    (if (eq ?l >) then (bind ?*greater* (+ ?*greater* 1)))
    (if (eq ?l <) then (bind ?*less* (+ ?*less* 1))))

(defrule done
    (declare (salience -10))
    (stage (name report))
    =>
    (printout t "RESULT " ?*edges* " " ?*plus* " " ?*minus* " " ?*greater* " " ?*less* crlf)
    (halt))
