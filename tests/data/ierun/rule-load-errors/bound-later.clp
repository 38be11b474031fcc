; ?w is bound only by the element after the test.
(defrule early (test (> ?w 0)) (item ?w) => (printout t ?w crlf))
