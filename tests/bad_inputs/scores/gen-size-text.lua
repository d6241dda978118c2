-- A size written as text.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: argument 3 (size) must be a whole number, not a string
gen(1, 7, "100", 0, 1, 1)  -- @
