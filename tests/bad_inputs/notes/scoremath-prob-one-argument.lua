-- prob with one argument.
-- exit: 1
-- stderr: vemora: score.lua:{line}: prob: prob takes 2 arguments (value, tightness) or 4 (low, mid, high, tightness); this call gave 1.
load("scoremath")
local x = prob(0.5)  -- @
