-- An input that is not there.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: cannot open "missing.wav": No such file or directory
rtinput("missing.wav")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
