-- A 1000 s window six octaves up reads more input per grain than an array holds.
-- exit: 1
-- stderr: score.lua:{line}: gravy: Error allocating input array... sorry!
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("gravy")
gen(1, 20, 1024, 2)
gravy(0, 0, 0.5, 1000, 1, 1, 6.0, 0, 0.5)  -- @
