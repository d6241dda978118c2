-- A channel no int can hold shows as -1.
-- exit: 1
-- stderr: score.lua:{line}: PAN: You asked for channel -1 of a 1-channel file.
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, 1, 1e12, 0, 0.5)  -- @
