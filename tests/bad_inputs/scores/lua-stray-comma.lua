-- Two commas in a row.
-- exit: 1
-- stderr: vemora: score.lua:{line}: unexpected symbol near ','
gen(1, 7, 100,, 0)  -- @
