; A rule file that uses every construct of the rule language: read, written and read again it
; must give the same text. Comments like this one are kept with the form that follows them.

(deffunction eq (?a ?b) TRUE)
(deffunction > (?a ?b) TRUE)
(deffunction limit () 3)
(deffunction gensym* () gen1)

(deftype percent "a share of a whole, \"in percent\""
    extends (type INTEGER FLOAT)
    (range 0 100)
    (units "per cent"))

(deftype colour extends (type SYMBOL) (allowed-symbols red amber green))
(deftype shade extends (type colour STRING) (units rgb))
(deftype samples extends (type FLOAT) (range -1.5 1.5) (cardinality 1 ?VARIABLE))
(deftype level extends (type FUZZY) (range 0 10) (units "metres")
    (values (term low ((0 1) (5 0))) (term high ((5 0) (10 1)))))
(deftemplate reading is-a samples)

(deftemplate sensor "a \\ sensor"
    (slot name (type STRING) (default "unnamed \"sensor\""))
    (slot load (type percent) (default 50))
    (slot state (type colour) (default green))
    (slot gain (type FLOAT) (range 0.25 4.75) (default 1.000001))
    (slot id (default-dynamic (gensym*)))
    (multislot history (type INTEGER) (cardinality 0 5) (range ?VARIABLE 10))
    (multislot flags (allowed-lexemes on "off") (default on)))

(deftemplate probe extends sensor
    (slot depth (type FLOAT) (units "feet per second")))

(defglobal ?*threshold* = 80 ?*ratio* = 0.333333333 ?*label* = "a \"b\"")

(deffacts startup "the first facts"
    (sensor (name "s1") (load 10) (history 1 2 3))
    (sensor (name "s2") (state red) (flags))
    (alarm "x \\ y" 1.5 2)
    (empty))

; a rule with every conditional element
(defrule watch "watch \"loads\""
    (declare (salience ?*threshold*) (oneshot TRUE))
    ?s <- (sensor (name ?n) (load ?l&:(> ?l 50)&~100) (state ?st&red|amber) (history ?first $?rest))
    (not (alarm ?n))
    (exists (probe (depth ?d&~0.5)))
    (unique (reading ?r))
    (explicit (empty))
    (test (eq ?n "s1"))
    (not (test (eq ?l 0)))
    =>
    (assert (alarm ?n (limit) 2.5))
    (modify ?s (load 0) (history 0))
    (printout t "load " ?l " of \"" ?n "\"" crlf))

(defrule quiet (declare (salience (limit)) (enabled FALSE)) => (halt))
(defrule guard (not (sensor)) => (assert (empty)))
(defrule first-test (test (eq 1 1)) (alarm $?x) => (retract ?x))
