-- Channel 2 of a stereo input.
-- exit: 1
-- stderr: score.lua:{line}: PAN: You asked for channel 2 of a 2-channel file.
-- stderr: vemora: the score played no notes; nothing written
rtinput("stereo.wav")
load("PAN")
PAN(0, 0, 0.5, 1, 2, 0, 0.5)  -- @
