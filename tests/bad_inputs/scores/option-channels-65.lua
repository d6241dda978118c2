-- More channels than the engine renders.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: channels must be a whole number from 1 to 64, not "65"
set_option("channels=65")  -- @
