-- A number, not a text.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: argument 1 (option) must be a text, not 48000
set_option(48000)  -- @
