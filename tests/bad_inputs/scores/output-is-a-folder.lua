-- Onto a folder.
-- output: folder.wav
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtoutput: cannot write "folder.wav": it is a folder
rtoutput("folder.wav")  -- @
load("argprobe")
argprobe(0, 0.5, 0.25, 0.5)
