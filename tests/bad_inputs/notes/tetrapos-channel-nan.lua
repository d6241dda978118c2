-- A channel that is no number shows as -1.
-- exit: 1
-- stderr: score.lua:{line}: TETRAPOS: You asked for channel -1 of 1-channel input.
-- stderr: vemora: the score played no notes; nothing written
set_option("channels=4")
rtinput("mono.wav")
load("TETRAPOS")
TETRAPOS(0, 0, 0.5, 1, 0, 0, 0 / 0)  -- @
