(reset)
(assert (query carl) (query zed))
(run)
