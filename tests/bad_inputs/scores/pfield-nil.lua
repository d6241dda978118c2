-- An instrument given nil for a pfield.
-- exit: 1
-- stderr: vemora: score.lua:{line}: PAN: argument 4 (p3) must be a number or a table made by tab(), not nil
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, nil, 0, 0, 0.5)  -- @
