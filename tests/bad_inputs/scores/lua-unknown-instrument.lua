-- A misspelt instrument is an undefined Lua global.
-- exit: 1
-- stderr: vemora: score.lua:{line}: attempt to call a nil value (global 'PANN')
rtinput("mono.wav")
load("PAN")
PANN(0, 0, 0.5, 1, 0, 0, 0.5)  -- @
