-- Values given as a Lua table.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: argument 4 (value) must be a number, not a table
gen(1, 2, 4, {1, 2, 3, 4})  -- @
