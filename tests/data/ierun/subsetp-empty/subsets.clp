; The empty list lies inside every list, the empty one too; other runs must stand contiguous.
(printout t (subsetp (create$) (create$ a b c)) crlf)
(printout t (subsetp (create$) (create$)) crlf)
(printout t (subsetp (rest$ (create$ x)) (create$ 1)) crlf)
(printout t (subsetp (create$ b c) (create$ a b c)) crlf)
(printout t (subsetp (create$ a c) (create$ a b c)) crlf)
(printout t (subsetp a (create$)) crlf)
(printout t (subsetp (create$) (subseq$ (create$ a b) 0 1)) " " (subsetp (create$ b) (create$)) crlf)
