-- TETRAPOS needs four output channels.
-- exit: 1
-- stderr: score.lua:{line}: TETRAPOS: Must have 4 output channels.
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("TETRAPOS")
TETRAPOS(0, 0, 0.5, 1, 0, 0)  -- @
