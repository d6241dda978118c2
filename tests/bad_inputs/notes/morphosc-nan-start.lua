-- A start that is no number.
-- exit: 1
-- stderr: score.lua:{line}: MORPHOSC: start time nan is not a finite number of seconds
-- stderr: vemora: the score played no notes; nothing written
load("MORPHOSC")
local wave = tab(10, 1024, 1)
MORPHOSC(0 / 0, 0.5, 440, 0.5, 0.5, 0.5, wave)  -- @
