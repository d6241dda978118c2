-- An instrument exists only once its plug-in is loaded.
-- exit: 1
-- stderr: vemora: score.lua:{line}: attempt to call a nil value (global 'PAN')
rtinput("mono.wav")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)  -- @
load("PAN")
