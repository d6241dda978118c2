-- map with four arguments.
-- exit: 1
-- stderr: vemora: score.lua:{line}: map: map takes 3 arguments (value, low, high) or 5 (value, inLow, inHigh, outLow, outHigh); this call gave 4.
load("scoremath")
local x = map(0.5, 1, 2, 3)  -- @
