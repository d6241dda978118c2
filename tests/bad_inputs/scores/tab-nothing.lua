-- tab with no arguments.
-- exit: 1
-- stderr: vemora: score.lua:{line}: tab: argument 1 (gen number) must be a whole number, not nothing
local t = tab()  -- @
