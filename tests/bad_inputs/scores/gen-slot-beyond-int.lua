-- A slot no int holds.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: argument 1 (slot) must be a whole number in the range of int, not 1099511627776
gen(1 << 40, 7, 100, 0, 100, 1)  -- @
