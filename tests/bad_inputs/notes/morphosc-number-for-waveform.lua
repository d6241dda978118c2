-- A number where a waveform table belongs.
-- exit: 1
-- stderr: score.lua:{line}: MORPHOSC: p6 carries no waveform table (make one with tab()).
-- stderr: vemora: the score played no notes; nothing written
load("MORPHOSC")
local wave = tab(10, 1024, 1)
MORPHOSC(0, 0.5, 440, 0.5, 0.5, 0.5, 1)  -- @
