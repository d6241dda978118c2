-- A table of 10^12 entries is refused before any memory is taken.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen 7: table size 1000000000000 is too large (at most 67108864 entries)
gen(1, 7, 1e12, 0, 1, 1)  -- @
