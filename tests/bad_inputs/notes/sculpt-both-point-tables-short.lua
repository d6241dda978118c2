-- Both point tables too short.
-- exit: 0
-- stderr: score.lua:{line}: SCULPT: The note plays 4 points but tables 3 and 4 hold 2 and 2; their last entries are held.
-- stderr: vemora: warning: score.wav: the peak passes full scale (49.0 dBFS); it is kept in this float file, but would clip when converted to 16 or 24 bits
load("SCULPT")
gen(1, 7, 100, 1, 100, 1)
gen(2, 10, 1024, 1)
gen(3, 2, 2, 440, 550)
gen(4, 2, 2, 1, 0.8)
SCULPT(0, 0.1, 0.5, 4, 0.5)  -- @
