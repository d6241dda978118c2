-- No pan pfield and no table 2.
-- exit: 1
-- stderr: score.lua:{line}: PAN: Either use the pan pfield (p6) or make an old-style gen function in slot 2.
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0)  -- @
