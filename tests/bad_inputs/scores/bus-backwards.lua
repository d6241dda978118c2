-- A channel range that runs backwards.
-- exit: 1
-- stderr: vemora: score.lua:{line}: bus_config: "out1-0" runs backwards
bus_config("PAN", "out1-0")  -- @
