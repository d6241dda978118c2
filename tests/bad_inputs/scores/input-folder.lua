-- A folder as the input.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: cannot open "folder.wav": it is a folder
rtinput("folder.wav")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
