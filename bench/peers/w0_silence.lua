-- W0, the engine floor: one note of 60 s that writes nothing, so the run is
-- start-up, the block loop and writing 60 s of stereo float silence.
-- FRAMEPROBE is a test plug-in: vemora --plugin-path BUILD/test-plugins.
local seconds = 60
load("FRAMEPROBE")
FRAMEPROBE(0, seconds, 1)
