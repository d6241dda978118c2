-- A sample format that does not exist.
-- output: take.wav
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtoutput: unknown sample format "32" (use 16, 24 or float)
rtoutput("take.wav", "32")  -- @
load("argprobe")
argprobe(0, 0.5, 0.25, 0.5)
