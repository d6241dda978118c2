-- No "=" in the option.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: "channels" is not of the form name=value
set_option("channels")  -- @
