-- A delay that is no number.
-- exit: 1
-- stderr-has: score.lua:{line}: REEDPIPE: Delays must be 0 samples or more (p3 = 
load("REEDPIPE")
gen(1, 7, 100, 1, 100, 1)
gen(2, 7, 100, 1, 100, 1)
REEDPIPE(0, 0.5, 0.1, 0 / 0, 10, 1, 0.45, 0.5)  -- @
