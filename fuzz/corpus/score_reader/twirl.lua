-- A voice that glides from its own pitch to an octave up, keeping its length.
--
--   vemora examples/twirl.lua        (writes examples/twirl.wav)

rtoutput("twirl.wav")
rtinput("sounds/voice.wav")     -- a mono recording, 3.2 seconds
load("twirl")

-- Table 1, the phrase curve: a short fade in and out.
gen(1, 7, 1000, 0, 20, 1, 960, 1, 20, 0)
-- Table 2, the window of each head: a Hanning window. Two heads half a
-- window apart then always add up to the same level.
gen(2, 20, 1024, 2)
-- Table 3, the pitch shift envelope: from p4's interval (0) to p5's (1).
gen(3, 7, 1000, 0, 1000, 1)

local voice = 3.2               -- seconds of the recording to play

--     p0 out  p1 in  p2 dur  p3 amp  p4 from  p5 to  p6 window  p7 channel  p8 left share
twirl(0,      0,     voice,  0.9,    0,       0.12,  0.05,      0,          0.5)
