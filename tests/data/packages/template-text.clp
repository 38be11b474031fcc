; A template that extends another is written with every slot it has, the inherited ones too,
; in its own slot order; the text reads back to the same template.
(deftemplate vehicle "anything that moves"
  (slot wheels (type INTEGER) (default 4))
  (multislot owners)
  (slot colour (allowed-values red blue) (default red)))
(deftemplate bike extends vehicle
  (slot gears (type INTEGER) (range 1 30) (default 1))
  (slot wheels (type INTEGER) (default 2)))
(deftemplate tandem extends bike
  (slot seats (default 2)))
(ppdeftemplate bike)
(ppdeftemplate tandem)
(assert (tandem (owners ann bob) (gears 21)))
(facts)
(save "template-text.tmp")
(clear)
(load "template-text.tmp")
(remove "template-text.tmp")
(ppdeftemplate tandem)
(facts)
(assert (tandem (gears 40)))
