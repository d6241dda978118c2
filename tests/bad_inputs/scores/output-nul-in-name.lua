-- A NUL inside the output's name: refused, never cut there (which would
-- write evil.txt).
-- output: evil.txt
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtoutput: argument 1 (file name) contains a NUL byte, which no file name can hold
load("argprobe")
rtoutput("evil.txt\0.wav") -- @
argprobe(0, 0.1, 1)
