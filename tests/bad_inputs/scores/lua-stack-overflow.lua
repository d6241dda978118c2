-- Endless recursion ends in Lua's stack limit, not a crash.
-- exit: 1
-- stderr-has: vemora: score.lua:{line}: stack overflow
local function deeper(n) return 1 + deeper(n + 1) end  -- @
deeper(0)
