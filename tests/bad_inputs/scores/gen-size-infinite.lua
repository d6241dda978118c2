-- An infinite size.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: argument 3 (size) must be a whole number, not inf
gen(1, 7, math.huge, 0, 1, 1)  -- @
