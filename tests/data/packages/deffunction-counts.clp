; A deffunction is refused when called with fewer arguments than it has plain parameters, or
; with more when it has no multifield parameter.
(deffunction add1 (?a) (+ ?a 1))
(try (add1) catch (printout t ?__ERROR crlf))
(try (add1 1 2) catch (printout t ?__ERROR crlf))
(deffunction head (?a ?b $?rest) ?a)
(try (head 1) catch (printout t ?__ERROR crlf))
(head 1 2 3 4)
