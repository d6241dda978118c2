-- A format FLAC cannot hold.
-- output: take.flac
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtoutput: FLAC cannot hold float samples (use 16 or 24)
rtoutput("take.flac", "float")  -- @
load("argprobe")
argprobe(0, 0.5, 0.25, 0.5)
