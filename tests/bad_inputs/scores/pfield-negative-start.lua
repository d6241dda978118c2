-- A start before the score's start.
-- exit: 1
-- stderr: score.lua:{line}: PAN: start time -0.5 s is before the start of the score
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("PAN")
PAN(-0.5, 0, 0.5, 1, 0, 0, 0.5)  -- @
