-- A number for a file name.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: argument 1 (file name) must be a text, not 44100
rtinput(44100)  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
