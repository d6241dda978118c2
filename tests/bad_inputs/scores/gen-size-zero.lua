-- A table of no entries.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen 7: table size 0 must be at least 1
gen(1, 7, 0, 0, 1, 1)  -- @
