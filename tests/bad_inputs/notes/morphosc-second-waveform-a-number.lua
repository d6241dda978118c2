-- The second waveform a number.
-- exit: 1
-- stderr: score.lua:{line}: MORPHOSC: p7 carries no waveform table (make one with tab()).
-- stderr: vemora: the score played no notes; nothing written
load("MORPHOSC")
local wave = tab(10, 1024, 1)
MORPHOSC(0, 0.5, 440, 0.5, 0.5, 0.5, wave, 2)  -- @
