-- The routine named, not numbered.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: argument 2 (gen number) must be a whole number, not a string
gen(1, "line", 100, 0, 100, 1)  -- @
