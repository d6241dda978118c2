-- A string of 2^40 bytes is refused by Lua before it allocates.
-- exit: 1
-- stderr: vemora: score.lua:{line}: resulting string too large
local s = string.rep("x", 1 << 40)  -- @
