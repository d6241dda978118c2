-- A draw that could never end.
-- exit: 1
-- stderr: vemora: score.lua:{line}: prob: prob's tightness -1 is negative: the draw could never end.
load("scoremath")
local x = prob(0, 0.5, 1, -1)  -- @
