-- tab with a value written as text.
-- exit: 1
-- stderr: vemora: score.lua:{line}: tab: argument 3 (value) must be a number, not a string
local t = tab(7, 100, "zero", 100, 1)  -- @
