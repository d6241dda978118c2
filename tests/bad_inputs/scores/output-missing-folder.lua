-- Into a folder that is not there.
-- output: nofolder/take.wav
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtoutput: cannot write "nofolder/take.wav": the folder "nofolder" does not exist
rtoutput("nofolder/take.wav")  -- @
load("argprobe")
argprobe(0, 0.5, 0.25, 0.5)
