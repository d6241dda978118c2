-- A pitch-curve slot that is no number.
-- exit: 1
-- stderr: score.lua:{line}: SHIFTGLIDE: Unable to load pitch curve (table -2147483648)!
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("SHIFTGLIDE")
gen(2, 2, 1, 0)
SHIFTGLIDE(0, 0, 0.5, 1, 0 / 0)  -- @
