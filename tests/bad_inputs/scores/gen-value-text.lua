-- A routine argument written as text.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: argument 5 (value) must be a number, not a string
gen(1, 7, 100, 0, "ten", 1)  -- @
