-- tab of 10^12 entries.
-- exit: 1
-- stderr: vemora: score.lua:{line}: tab: gen 7: table size 1000000000000 is too large (at most 67108864 entries)
local t = tab(7, 1e12, 0, 1, 1)  -- @
