-- A negative seed.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: seed must be a whole number from 0 to 4294967295, not "-1"
set_option("seed=-1")  -- @
