-- A rate with a trailing space.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: sr must be a whole number from 1000 to 768000, not "48000 "
set_option("sr=48000 ")  -- @
