-- An input nobody may read.
-- unprivileged
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: cannot open "unreadable.wav": Permission denied
rtinput("unreadable.wav")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
