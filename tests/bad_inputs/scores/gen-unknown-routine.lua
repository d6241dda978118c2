-- A routine that does not exist.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen 99 is not a known routine (known: 2, 5, 7, 9, 10, 20, 27; negative to skip normalising)
gen(1, 99, 100, 1)  -- @
