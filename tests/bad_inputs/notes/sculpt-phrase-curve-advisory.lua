-- Without table 1 the note plays, and says so.
-- exit: 0
-- stderr: score.lua:{line}: SCULPT: Setting phrase curve to all 1's.
-- stderr: vemora: warning: score.wav: the peak passes full scale (49.0 dBFS); it is kept in this float file, but would clip when converted to 16 or 24 bits
load("SCULPT")
gen(2, 10, 1024, 1)
gen(3, 2, 4, 440, 550, 660, 880)
gen(4, 2, 4, 1, 0.8, 0.6, 0.4)
SCULPT(0, 0.1, 0.5, 4, 0.5)  -- @
