-- cos of nothing.
-- exit: 1
-- stderr: vemora: score.lua:{line}: cos: cos takes an angle in radians; this call gave 0.
load("scoremath")
local x = cos()  -- @
