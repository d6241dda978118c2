-- flurry without its oscillator waveform.
-- exit: 1
-- stderr: score.lua:{line}: flurry: You haven't made the oscillator waveform (table 6).
-- stderr: vemora: the score played no notes; nothing written
load("flurry")
gen(1, 7, 100, 1, 100, 1)
gen(2, 7, 1000, 0, 1000, 1)
gen(3, 7, 1000, 0, 1000, 1)
gen(4, 7, 1000, 0, 1000, 0)
gen(5, 7, 1000, 0, 1000, 1)
gen(8, 20, 1024, 2)
flurry(0, 0.5, 0.25, 0.1, 0.02,  0, 0, 0.3, 1,  0, 0, 0.3, 1,  0.05, 0.08, 0.1, 1,  0.01, 0.02, 0.03, 1,  0, 0.5, 1, 1,  0, 0.5, 1, 1,  200, 300, 400, 2,  800, 1000, 1500, 2,  7)  -- @
