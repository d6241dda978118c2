-- A voice travels across the stereo field, twice.
--
--   vemora examples/demo.lua        (writes examples/demo.wav)
--
-- Relative paths in rtinput and rtoutput are taken from this score's folder,
-- so the score renders the same from any current directory.

rtoutput("demo.wav")            -- 32-bit float WAV; rtoutput("demo.wav", "16") for 16-bit
rtinput("sounds/voice.wav")     -- a mono recording, 3.2 seconds
load("PAN")

local voice = 3.2               -- seconds of the recording to play
local gap = 0.5                 -- silence between the two passes

-- Table 1, the amplitude curve of every PAN note (stretched over each note):
-- a short fade-in, a long hold, a short fade-out. Segment lengths are relative.
gen(1, 7, 1000, 0, 30, 1, 920, 1, 50, 0)

-- Table 2, the pan curve that PAN follows when p6 is left out:
-- 1 is all left, 0 all right.
gen(2, 7, 1000, 1, 1000, 0)

-- First pass: left to right along table 2, constant-power law.
--  p0 start  p1 inskip  p2 dur  p3 amp  p4 input channel  p5 pan law
PAN(0, 0, voice, 0.9, 0, 0)

-- Second pass: the pan is a pfield of its own, a table made by tab() that
-- PAN reads as the note goes: from the right back to the left, then to the
-- centre. Linear law this time (p5 = 1).
local wander = tab(7, 1000, 0, 700, 1, 300, 0.5)
PAN(voice + gap, 0, voice, 0.9, 0, 1, wander)
