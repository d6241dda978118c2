-- Into a "folder" that is a file.
-- output: plain.txt/take.wav
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtoutput: cannot write "plain.txt/take.wav": "plain.txt" is not a folder
rtoutput("plain.txt/take.wav")  -- @
load("argprobe")
argprobe(0, 0.5, 0.25, 0.5)
