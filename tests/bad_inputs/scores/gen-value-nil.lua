-- A nil among the values.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: argument 6 (value) must be a number, not nil
gen(1, 7, 100, 0, 100, nil)  -- @
