;;; Miss Manners: seat the guests of a dinner party around a table so that neighbours are of
;;; opposite sex and share at least one hobby. The rules search depth-first: each step extends
;;; the newest seating by one guest and copies the path of guests seated so far.
;;;
;;; Input facts (made by gen-guests.sh): one (guest ...) per guest and hobby, (last_seat (seat N)),
;;; (count (c 1)) and (context (state start)).

(deftemplate guest (slot name) (slot sex) (slot hobby))
(deftemplate last_seat (slot seat))
(deftemplate seating
    (slot seat1) (slot name1) (slot name2) (slot seat2)
    (slot id) (slot pid) (slot path_done))
(deftemplate context (slot state))
(deftemplate path (slot id) (slot name) (slot seat))
(deftemplate chosen (slot id) (slot name) (slot hobby))
(deftemplate count (slot c))

(defrule assign_first_seat
    ?f1 <- (context (state start))
    (guest (name ?n))
    ?f3 <- (count (c ?c))
    =>
    (assert (seating (seat1 1) (name1 ?n) (name2 ?n) (seat2 1) (id ?c) (pid 0) (path_done yes)))
    (assert (path (id ?c) (name ?n) (seat 1)))
    (modify ?f3 (c (+ ?c 1)))
    (modify ?f1 (state assign_seats)))

(defrule find_seating
    ?f1 <- (context (state assign_seats))
    (seating (seat1 ?seat1) (seat2 ?seat2) (name2 ?n2) (id ?id) (pid ?pid) (path_done yes))
    (guest (name ?n2) (sex ?s1) (hobby ?h1))
    (guest (name ?g2) (sex ~?s1) (hobby ?h1))
    ?f5 <- (count (c ?c))
    (not (path (id ?id) (name ?g2)))
    (not (chosen (id ?id) (name ?g2) (hobby ?h1)))
    =>
    (assert (seating (seat1 ?seat2) (name1 ?n2) (name2 ?g2) (seat2 (+ ?seat2 1))
                     (id ?c) (pid ?id) (path_done no)))
    (assert (path (id ?c) (name ?g2) (seat (+ ?seat2 1))))
    (assert (chosen (id ?id) (name ?g2) (hobby ?h1)))
    (modify ?f5 (c (+ ?c 1)))
    (modify ?f1 (state make_path)))

(defrule make_path
    (context (state make_path))
    (seating (id ?id) (pid ?pid) (path_done no))
    (path (id ?pid) (name ?n1) (seat ?s))
    (not (path (id ?id) (name ?n1)))
    =>
    (assert (path (id ?id) (name ?n1) (seat ?s))))

;; Lower than make_path: the path is copied completely before the seating counts as done.
(defrule path_done
    (declare (salience -1))
    ?f1 <- (context (state make_path))
    ?f2 <- (seating (path_done no))
    =>
    (modify ?f2 (path_done yes))
    (modify ?f1 (state check_done)))

(defrule are_we_done
    (declare (salience 1))
    ?f1 <- (context (state check_done))
    (last_seat (seat ?l_seat))
    (seating (seat2 ?l_seat))
    =>
    (printout t crlf "Yes, we are done!!" crlf)
    (modify ?f1 (state print_results)))

(defrule continue
    ?f1 <- (context (state check_done))
    =>
    (modify ?f1 (state assign_seats)))

(defrule print_results
    (declare (salience 1))
    (context (state print_results))
    (seating (id ?id) (seat2 ?s2))
    (last_seat (seat ?s2))
    ?f4 <- (path (id ?id) (name ?n) (seat ?s))
    =>
    (retract ?f4)
    (printout t "seat " ?s " guest " ?n crlf))

(defrule all_done
    (context (state print_results))
    =>
    (halt))
