-- A channel number of five digits.
-- exit: 1
-- stderr: vemora: score.lua:{line}: bus_config: "out0-99999" is not a bus (write in0, in0-1, out0-1 ...)
bus_config("PAN", "out0-99999")  -- @
