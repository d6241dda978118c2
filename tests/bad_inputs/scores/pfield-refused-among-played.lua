-- A refused note does not stop the score: the others are written.
-- exit: 2
-- stderr: score.lua:{line}: PAN: start time -1 s is before the start of the score
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
PAN(-1, 0, 0.5, 1, 0, 0, 0.5)  -- @
PAN(0.5, 0, 0.5, 1, 0, 0, 0.5)
