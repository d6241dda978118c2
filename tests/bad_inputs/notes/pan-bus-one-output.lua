-- A bus configuration that gives PAN one output channel.
-- exit: 1
-- stderr: score.lua:{line}: PAN: Output must be stereo.
-- stderr: vemora: the score played no notes; nothing written
bus_config("PAN", "in0", "out1")
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)  -- @
