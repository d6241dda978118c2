-- constrain without bounds.
-- exit: 1
-- stderr: vemora: score.lua:{line}: constrain: constrain takes 3 arguments (value, bound, bound); this call gave 1.
load("scoremath")
local x = constrain(5)  -- @
