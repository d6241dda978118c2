-- An instrument given by number.
-- exit: 1
-- stderr: vemora: score.lua:{line}: bus_config: argument 1 (instrument) must be a text, not 42
bus_config(42, "out0-1")  -- @
