-- A size with a fraction.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: argument 3 (size) must be a whole number, not 100.5
gen(1, 7, 100.5, 0, 1, 1)  -- @
