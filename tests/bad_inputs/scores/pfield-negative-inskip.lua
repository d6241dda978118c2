-- An input start before the input's start.
-- exit: 1
-- stderr: score.lua:{line}: PAN: input start -1 s is before the start of the input
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("PAN")
PAN(0, -1, 0.5, 1, 0, 0, 0.5)  -- @
