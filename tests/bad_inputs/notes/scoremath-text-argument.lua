-- A score function given text.
-- exit: 1
-- stderr: vemora: score.lua:{line}: sin: argument 1 (p0) must be a number, not a string
load("scoremath")
local x = sin("half")  -- @
