-- A duration of infinity.
-- exit: 1
-- stderr: score.lua:{line}: PAN: duration inf is not a finite number of seconds
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("PAN")
PAN(0, 0, math.huge, 1, 0, 0, 0.5)  -- @
