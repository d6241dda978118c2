-- 5000 pfields, numbers where the waveforms belong.
-- exit: 1
-- stderr: score.lua:{line}: MORPHOSC: p6 carries no waveform table (make one with tab()).
-- stderr: vemora: the score played no notes; nothing written
load("MORPHOSC")
local wave = tab(10, 1024, 1)
local p = {0, 0.5, 440, 0.5, 0.5, 0.5}
for i = 7, 5000 do p[i] = 1 end
MORPHOSC(table.unpack(p))  -- @
