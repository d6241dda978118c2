-- A NaN among the values.
-- exit: 1
-- stderr-has: vemora: score.lua:{line}: gen: gen 7: argument 3 is not a finite number
gen(1, 7, 100, 0, 100, 0 / 0)  -- @
