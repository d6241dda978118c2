-- Channel 1 of a mono input.
-- exit: 1
-- stderr: score.lua:{line}: FAUXGLIDE: You asked for channel 1 of a 1-channel file.
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("FAUXGLIDE")
gen(1, 7, 100, 1, 100, 1)
gen(2, 2, 1, 0)
FAUXGLIDE(0, 0, 0.5, 1, 2, 1)  -- @
