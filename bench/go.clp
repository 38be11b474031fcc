;;; Runs the program loaded before this file: statistics on (for the count of rules fired), then
;;; reset and run.
(watch statistics)
(reset)
(run)
