-- A device as the input.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: cannot open "/dev/zero": not a regular file
rtinput("/dev/zero")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
