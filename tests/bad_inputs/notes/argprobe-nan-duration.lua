-- A duration that is no number.
-- exit: 1
-- stderr: score.lua:{line}: argprobe: setnote: start and duration must be 0 or more seconds
-- stderr: vemora: the score played no notes; nothing written
load("argprobe")
argprobe(0, 0 / 0, 1)  -- @
