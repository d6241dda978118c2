-- Partials whose sum is beyond any double.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen -9: the values overflow (beyond the range of a double)
gen(1, -9, 16, 1, 1e308, 90, 1, 1e308, 90)  -- @
