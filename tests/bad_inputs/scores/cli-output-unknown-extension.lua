-- --output with a container the writer cannot tell, refused before the score runs.
-- args: --output take.ogg
-- output: take.ogg
-- exit: 1
-- stderr: vemora: rtoutput: cannot tell the sound file format from "take.ogg" (use .wav, .aif, .aiff or .flac)
load("argprobe")
argprobe(0, 0.1, 1)
