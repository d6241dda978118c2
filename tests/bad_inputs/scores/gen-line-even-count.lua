-- Line segments without their last value.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen 7: needs v0, len, v1 [, len, v2 ...] (an odd count of at least 3 numbers), got 2
gen(1, 7, 100, 0, 50)  -- @
