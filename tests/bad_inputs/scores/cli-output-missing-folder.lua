-- --output into a folder that does not exist.
-- args: --output nofolder/take.wav
-- output: nofolder/take.wav
-- exit: 1
-- stderr: vemora: rtoutput: cannot write "nofolder/take.wav": the folder "nofolder" does not exist
load("argprobe")
argprobe(0, 0.1, 1)
