-- argprobe: a known test signal written by the older note interface, for
-- checking what comes out of the engine, sample by sample.
--
--   vemora examples/argprobe.lua    (writes examples/argprobe.wav)
--
-- Open the file in a sound editor and zoom in: from 0 s two sawtooth ramps,
-- from 1 s two steady levels, from 2 s one level on both channels, from
-- 2.5 s a pair of faster ramps.

rtoutput("argprobe.wav")
load("argprobe")

--        p0 start  p1 dur  p2 ceiling 0  p3 ceiling 1  p4 step per frame
-- Channel 0 climbs 0, 0.01, 0.02 ... 0.5, then restarts at 0.01: a sawtooth
-- that repeats every 50 frames (882 Hz at 44100 Hz). Channel 1 turns at
-- 0.25 and repeats every 24 frames: sums of 0.01 in single precision pass
-- 0.25 one step early.
argprobe(0, 1, 0.5, 0.25, 0.01)

-- No step (four pfields): two constants, 0.5 and -0.5.
argprobe(1, 1, 0.5, -0.5)

-- Three pfields: p2 on both channels.
argprobe(2, 0.5, 0.25)

-- The same ceilings, stepping by 0.05: cycles of 9 and 5 frames.
argprobe(2.5, 0.5, 0.5, 0.25, 0.05)
