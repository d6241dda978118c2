-- A NUL inside an input's name: refused, never cut there.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: argument 1 (file name) contains a NUL byte, which no file name can hold
load("PAN")
rtinput("mono.wav\0.txt") -- @
PAN(0, 0, 0.1, 0.5, 0, 0, 0.5)
