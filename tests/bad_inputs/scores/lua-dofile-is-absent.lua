-- Nor run other files.
-- exit: 1
-- stderr: vemora: score.lua:{line}: attempt to call a nil value (global 'dofile')
dofile("mono.wav")  -- @
