-- A bus by name.
-- exit: 1
-- stderr: vemora: score.lua:{line}: bus_config: "left" is not a bus (write in0, in0-1, out0-1 ...)
bus_config("PAN", "in0", "left")  -- @
