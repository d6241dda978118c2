-- A range that holds nothing.
-- exit: 1
-- stderr: vemora: score.lua:{line}: prob: prob's low 1 is above its high 0: there is nothing to draw.
load("scoremath")
local x = prob(1, 0.5, 0, 1)  -- @
