-- A rate that is no number.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: sr must be a whole number from 1000 to 768000, not "fast"
set_option("sr=fast")  -- @
