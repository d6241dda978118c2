-- gen with no size.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: argument 3 (size) must be a whole number, not nothing
gen(1, 7)  -- @
