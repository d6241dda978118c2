-- A negative size.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen 7: table size -5 must be at least 1
gen(1, 7, -5, 0, 1, 1)  -- @
