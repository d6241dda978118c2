-- An exponential segment to 0.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen 5: values must not be 0 (an exponential segment never reaches 0)
gen(1, 5, 100, 1, 100, 0)  -- @
