-- An instrument given a string for a pfield.
-- exit: 1
-- stderr: vemora: score.lua:{line}: PAN: argument 4 (p3) must be a number or a table made by tab(), not a string
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, "loud", 0, 0, 0.5)  -- @
