-- A score cannot open files of its own.
-- exit: 1
-- stderr: vemora: score.lua:{line}: attempt to index a nil value (global 'io')
io.open("escaped.txt", "w")  -- @
