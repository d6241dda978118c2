-- Nothing to set.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: give at least one option, such as "sr=48000"
set_option()  -- @
