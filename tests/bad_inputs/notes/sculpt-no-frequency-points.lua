-- No frequency points in table 3.
-- exit: 1
-- stderr: score.lua:{line}: SCULPT: You haven't made the table of frequency points (table 3).
-- stderr: vemora: the score played no notes; nothing written
load("SCULPT")
gen(1, 7, 100, 1, 100, 1)
gen(2, 10, 1024, 1)
gen(4, 2, 4, 1, 0.8, 0.6, 0.4)
SCULPT(0, 0.1, 0.5, 4, 0.5)  -- @
