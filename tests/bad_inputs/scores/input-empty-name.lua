-- An empty file name.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: cannot open "": No such file or directory
rtinput("")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
