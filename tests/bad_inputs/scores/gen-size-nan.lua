-- A size that is no number.
-- exit: 1
-- stderr-has: vemora: score.lua:{line}: gen: argument 3 (size) must be a whole number, not
gen(1, 7, 0 / 0, 0, 1, 1)  -- @
