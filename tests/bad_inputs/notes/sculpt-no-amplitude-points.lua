-- No amplitude points in table 4.
-- exit: 1
-- stderr: score.lua:{line}: SCULPT: You haven't made the table of amplitude points (table 4).
-- stderr: vemora: the score played no notes; nothing written
load("SCULPT")
gen(1, 7, 100, 1, 100, 1)
gen(2, 10, 1024, 1)
gen(3, 2, 4, 440, 550, 660, 880)
SCULPT(0, 0.1, 0.5, 4, 0.5)  -- @
