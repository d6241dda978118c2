-- HOSTPING: cues for the program that embeds the engine. A HOSTPING note
-- makes no sound; when the render reaches its start time it raises the
-- flag bang_ready, which the host reads between blocks.
--
--   vemora-host examples/hostping.lua   (the example host, examples/host/:
--                                        prints a line for every cue)
--   vemora examples/hostping.lua        (renders examples/hostping.wav; no
--                                        host is listening, the cues are silent)

rtoutput("hostping.wav")
rtinput("sounds/voice.wav")
load("PAN")
load("HOSTPING")

gen(1, 7, 1000, 0, 20, 1, 960, 1, 20, 0)   -- PAN's amplitude curve: short fades

-- Three phrases of the voice, left, centre and right, a second apart.
--  p0 start  p1 inskip  p2 dur  p3 amp  p4 input channel  p5 pan law  p6 pan
PAN(0.0, 0.0, 1.0, 0.8, 0, 0, 1.0)
PAN(1.0, 1.0, 1.0, 0.8, 0, 0, 0.5)
PAN(2.0, 2.0, 1.2, 0.8, 0, 0, 0.0)

-- A cue at the start of each phrase (p0 only; other pfields are ignored).
-- Two notes at one time raise the flag once: the host sees a single cue at 1 s.
HOSTPING(0.0)
HOSTPING(1.0)
HOSTPING(1.0)
HOSTPING(2.0)
