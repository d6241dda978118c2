-- A 1000 s window on 64 channels writes more per grain than an array holds.
-- exit: 1
-- stderr: score.lua:{line}: gravy: Error allocating output array... sorry!
-- stderr: vemora: the score played no notes; nothing written
set_option("channels=64")
rtinput("mono.wav")
load("gravy")
gen(1, 20, 1024, 2)
gravy(0, 0, 0.5, 1000, 1, 1, -3.0, 0, 0.5)  -- @
