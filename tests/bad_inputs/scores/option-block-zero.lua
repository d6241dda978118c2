-- A block of no frames.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: block must be a whole number from 1 to 65536, not "0"
set_option("block=0")  -- @
