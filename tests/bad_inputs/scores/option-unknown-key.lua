-- An option that does not exist.
-- exit: 1
-- stderr-has: vemora: score.lua:{line}: set_option: unknown option "colour"
set_option("colour=blue")  -- @
