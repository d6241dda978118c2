-- A seed beyond any integer.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: seed must be a whole number from 0 to 4294967295, not "99999999999999999999"
set_option("seed=99999999999999999999")  -- @
