-- A note of 10^9 seconds (some 32 years) is more frames than the engine counts.
-- exit: 1
-- stderr: score.lua:{line}: PAN: a note from 0 s lasting 1e+09 s is longer than the engine can render
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 1e9, 1, 0, 0, 0.5)  -- @
