-- A duration below 0.
-- exit: 1
-- stderr: score.lua:{line}: PAN: duration -1 s is not a length of time
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("PAN")
PAN(0, 0, -1, 1, 0, 0, 0.5)  -- @
