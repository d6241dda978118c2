-- Breakpoints that go back.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen 27: x values must not decrease (0.5 follows 1)
gen(1, 27, 100, 0, 0, 1, 1, 0.5, 0)  -- @
