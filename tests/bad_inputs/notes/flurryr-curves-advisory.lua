-- Without tables 1 and 3 the note plays, and says so.
-- exit: 0
-- stderr: score.lua:{line}: FLURRYR: Setting phrase curve to all 1's.
-- stderr: score.lua:{line}: FLURRYR: Setting grain envelope to all 1's.
load("FLURRYR")
gen(2, 10, 1024, 1)
FLURRYR(0, 0.5, 0.3, 0.05,  0, 0.5, 1, 1,  0.02, 0.035, 0.05, 2,  0.3, 0.5, 0.7, 1,  7.00, 7.07, 8.00, 2,  0, 1)  -- @
