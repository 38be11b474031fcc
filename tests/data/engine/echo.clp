; Top-level values are echoed to "t", each followed by a line break; constructs are not echoed.
(deftemplate point (slot x) (slot y))
a
12
(defglobal ?*limit* = 5)
?*limit*
