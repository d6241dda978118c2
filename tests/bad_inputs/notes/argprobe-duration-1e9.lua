-- A legacy note of 10^9 seconds.
-- exit: 1
-- stderr: score.lua:{line}: argprobe: setnote: the note is longer than the engine can render
-- stderr: vemora: the score played no notes; nothing written
load("argprobe")
argprobe(0, 1e9, 1)  -- @
