-- A container the writer does not offer.
-- output: take.mp3
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtoutput: cannot tell the sound file format from "take.mp3" (use .wav, .aif, .aiff or .flac)
rtoutput("take.mp3")  -- @
load("argprobe")
argprobe(0, 0.5, 0.25, 0.5)
