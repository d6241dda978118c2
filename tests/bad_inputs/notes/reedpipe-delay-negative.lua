-- A delay below 0 samples would read ahead of the newest sample.
-- exit: 1
-- stderr: score.lua:{line}: REEDPIPE: Delays must be 0 samples or more (p3 = -2, p4 = 10).
-- stderr: vemora: the score played no notes; nothing written
load("REEDPIPE")
gen(1, 7, 100, 1, 100, 1)
gen(2, 7, 100, 1, 100, 1)
REEDPIPE(0, 0.5, 0.1, -2, 10, 1, 0.45, 0.5)  -- @
