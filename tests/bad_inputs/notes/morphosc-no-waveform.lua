-- MORPHOSC needs at least one waveform table.
-- exit: 1
-- stderr: score.lua:{line}: MORPHOSC: Usage: MORPHOSC(start, dur, freq, amp, morph, pctleft, wavetable [, wavetable ...])
-- stderr: vemora: the score played no notes; nothing written
load("MORPHOSC")
local wave = tab(10, 1024, 1)
MORPHOSC(0, 0.5, 440, 0.5, 0.5, 0.5)  -- @
