-- No extension at all.
-- output: take
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtoutput: cannot tell the sound file format from "take" (use .wav, .aif, .aiff or .flac)
rtoutput("take")  -- @
load("argprobe")
argprobe(0, 0.5, 0.25, 0.5)
