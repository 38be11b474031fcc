; ?k belongs to the not element; the actions have no ?k of their own.
(defrule none (not (item ?k)) => (printout t ?k crlf))
