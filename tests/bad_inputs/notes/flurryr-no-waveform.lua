-- No waveform in table 2.
-- exit: 1
-- stderr: score.lua:{line}: FLURRYR: You need to store a waveform in function 2.
-- stderr: vemora: the score played no notes; nothing written
load("FLURRYR")
gen(1, 7, 100, 1, 100, 1)
gen(3, 20, 1024, 2)
FLURRYR(0, 0.5, 0.3, 0.05,  0, 0.5, 1, 1,  0.02, 0.035, 0.05, 2,  0.3, 0.5, 0.7, 1,  7.00, 7.07, 8.00, 2,  0, 1)  -- @
