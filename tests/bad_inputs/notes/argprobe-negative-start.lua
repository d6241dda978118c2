-- A legacy note the engine will not place is refused; the score goes on.
-- exit: 1
-- stderr: score.lua:{line}: argprobe: setnote: start and duration must be 0 or more seconds
-- stderr: vemora: the score played no notes; nothing written
load("argprobe")
argprobe(-1, 0.5, 1)  -- @
