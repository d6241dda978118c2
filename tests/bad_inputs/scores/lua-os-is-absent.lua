-- A score cannot run commands.
-- exit: 1
-- stderr: vemora: score.lua:{line}: attempt to index a nil value (global 'os')
os.execute("touch escaped")  -- @
