-- A note that starts 10^9 seconds in.
-- exit: 1
-- stderr: score.lua:{line}: PAN: a note from 1e+09 s lasting 0.5 s is longer than the engine can render
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("PAN")
PAN(1e9, 0, 0.5, 1, 0, 0, 0.5)  -- @
