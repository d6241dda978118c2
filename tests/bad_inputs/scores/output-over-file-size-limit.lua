-- The file grows past the size limit: a clear error, no file, no temporary.
-- file-size-limit: 65536
-- exit: 1
-- stderr: vemora: rtoutput: cannot write "score.wav": File too large
load("argprobe")
argprobe(0, 2, 0.25, 0.5)
