-- Slot 0.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: table slot 0 must be 1 or more
gen(0, 7, 100, 0, 100, 1)  -- @
