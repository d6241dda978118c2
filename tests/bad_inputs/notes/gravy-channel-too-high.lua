-- Channel 1 of a mono input.
-- exit: 1
-- stderr: score.lua:{line}: gravy: You asked for channel 1 of a 1-channel file.
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("gravy")
gen(1, 20, 1024, 2)
gravy(0, 0, 0.5, 0.05, 1, 1, 0.07, 1, 0.5)  -- @
