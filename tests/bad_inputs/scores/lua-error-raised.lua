-- The score stops itself.
-- exit: 1
-- stderr: vemora: score.lua:{line}: the score gives up here
load("argprobe")
argprobe(0, 0.1, 1)
error("the score gives up here")  -- @
