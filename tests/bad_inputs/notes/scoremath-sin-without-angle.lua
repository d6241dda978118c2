-- sin of nothing.
-- exit: 1
-- stderr: vemora: score.lua:{line}: sin: sin takes an angle in radians; this call gave 0.
load("scoremath")
local x = sin()  -- @
