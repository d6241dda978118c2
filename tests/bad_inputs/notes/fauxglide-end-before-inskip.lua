-- A negative duration is an end time in the input; this one lies before the inskip.
-- exit: 1
-- stderr: score.lua:{line}: FAUXGLIDE: duration -0.3 s is not a length of time
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("FAUXGLIDE")
gen(1, 7, 100, 1, 100, 1)
gen(2, 2, 1, 0)
FAUXGLIDE(0, 0.5, -0.2, 1, 2)  -- @
