-- A size beyond any integer.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: argument 3 (size) must be a whole number, not 1e+300
gen(1, 7, 1e300, 0, 1, 1)  -- @
