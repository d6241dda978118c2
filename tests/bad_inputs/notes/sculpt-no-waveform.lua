-- No waveform in table 2.
-- exit: 1
-- stderr: score.lua:{line}: SCULPT: You need to store a waveform in function 2.
-- stderr: vemora: the score played no notes; nothing written
load("SCULPT")
gen(1, 7, 100, 1, 100, 1)
gen(3, 2, 4, 440, 550, 660, 880)
gen(4, 2, 4, 1, 0.8, 0.6, 0.4)
SCULPT(0, 0.1, 0.5, 4, 0.5)  -- @
