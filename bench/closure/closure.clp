;;; Transitive closure of a directed graph: every (path a b) with an edge b -> c gives the path
;;; a -> c. Most of these asserts name a path that already exists and are refused as duplicates,
;;; so the program measures the duplicate-fact check as much as the joins.
;;;
;;; Input facts (made by gen-graph.sh): (edge A B) per edge. Prints "RESULT NODES PATHS SELF"
;;; once the closure is complete: the node count, the number of paths, and how many nodes lie on
;;; a cycle (have a path to themselves).

(defglobal ?*paths* = 0 ?*self* = 0)

(defrule edge_is_path
    (edge ?a ?b)
    =>
    (assert (path ?a ?b)))

(defrule extend
    (path ?a ?b)
    (edge ?b ?c)
    =>
    (assert (path ?a ?c)))

(defrule count_path
    (declare (salience -10))
    (path ?a ?b)
    =>
    (bind ?*paths* (+ ?*paths* 1))
    (if (eq ?a ?b) then (bind ?*self* (+ ?*self* 1))))

(defrule report
    (declare (salience -20))
    (nodes ?n)
    =>
    (printout t "RESULT " ?n " " ?*paths* " " ?*self* crlf))
