-- Fewer channels than a bus configuration already uses.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: the bus configuration of PAN uses output channel 1
bus_config("PAN", "in0", "out0-1")
set_option("channels=1")  -- @
