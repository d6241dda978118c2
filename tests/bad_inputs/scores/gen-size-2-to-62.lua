-- A table of 2^62 entries.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen 10: table size 4611686018427387904 is too large (at most 67108864 entries)
gen(1, 10, 1 << 62, 1)  -- @
