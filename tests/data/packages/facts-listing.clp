; The fact listing has one entry per fact, whatever line ends a string in a fact holds.
(deftemplate note (slot text))
(assert (note (text "first line
second line")))
(assert (note (text "alpha")))
(facts)
(facts 1)
