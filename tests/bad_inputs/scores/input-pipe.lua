-- A named pipe (no one writes into it) is refused, not waited on.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: cannot open "pipe.wav": not a regular file
rtinput("pipe.wav")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
