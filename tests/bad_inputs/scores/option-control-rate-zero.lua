-- A control rate of 0.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: control_rate must be a whole number from 1 to 100000000, not "0"
set_option("control_rate=0")  -- @
