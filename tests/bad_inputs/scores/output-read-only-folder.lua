-- Into a folder nobody may write into.
-- output: readonly/take.wav
-- unprivileged
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtoutput: cannot write "readonly/take.wav": Permission denied
rtoutput("readonly/take.wav")  -- @
load("argprobe")
argprobe(0, 0.5, 0.25, 0.5)
