-- MORPHOSC writes mono or stereo.
-- exit: 1
-- stderr: score.lua:{line}: MORPHOSC: Can't handle more than 2 output channels.
-- stderr: vemora: the score played no notes; nothing written
set_option("channels=3")
load("MORPHOSC")
local wave = tab(10, 1024, 1)
MORPHOSC(0, 0.5, 440, 0.5, 0.5, 0.5, wave)  -- @
