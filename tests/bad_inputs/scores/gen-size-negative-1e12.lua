-- A size of -10^12.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen 7: table size -1000000000000 must be at least 1
gen(1, 7, -1e12, 0, 1, 1)  -- @
