-- PAN writes two channels: a mono output refuses it.
-- exit: 1
-- stderr: score.lua:{line}: PAN: Output must be stereo.
-- stderr: vemora: the score played no notes; nothing written
set_option("channels=1")
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)  -- @
