-- A start time that is no number.
-- exit: 1
-- stderr: score.lua:{line}: PAN: start time nan is not a finite number of seconds
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("PAN")
PAN(0 / 0, 0, 0.5, 1, 0, 0, 0.5)  -- @
