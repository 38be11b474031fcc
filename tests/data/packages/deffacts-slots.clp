; A fact set read slot by slot: slots in any order, left out, nil where the default is not,
; an empty multislot whose default is not empty, a dynamic default; declared and ordered
; facts in turn (the ordered one makes its template on the way). The listing and the facts
; after a reset show what was stored. Last, a slot without its value is refused (the error
; ends the script).
(deftemplate cell (slot row (default 0)) (slot col) (multislot tags (default a b))
   (slot seen (default-dynamic (+ 1 2))))
(deffacts grid
   (cell (col 2) (row 1))
   (cell (row nil) (tags))
   (mark 1 2)
   (cell (tags x) (seen 9))
   (mark 3)
   (cell (col 4) (tags) (row 5)))
(ppdeffacts grid)
(watch facts)
(reset)
(unwatch facts)
(facts)
(deffacts broken (cell (row 1) (tags) (seen)))
