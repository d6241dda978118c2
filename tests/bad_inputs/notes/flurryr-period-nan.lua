-- A grain period that is no number.
-- exit: 1
-- stderr-has: score.lua:{line}: FLURRYR: A grain rate of 
load("FLURRYR")
gen(1, 7, 100, 1, 100, 1)
gen(2, 10, 1024, 1)
gen(3, 20, 1024, 2)
FLURRYR(0, 0.5, 0.3, 0 / 0,  0, 0.5, 1, 1,  0, 0, 0, 2,  0.3, 0.5, 0.7, 1,  7.00, 7.07, 8.00, 2,  0, 1)  -- @
