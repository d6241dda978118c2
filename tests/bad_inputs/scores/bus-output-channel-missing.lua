-- Output channels the output does not have.
-- exit: 1
-- stderr: vemora: score.lua:{line}: bus_config: output channel 2 does not exist (the output has 2 channels)
bus_config("PAN", "in0", "out2-3")  -- @
