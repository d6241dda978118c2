-- A voice stretched to twice its length and transposed up a fifth.
--
--   vemora examples/gravy.lua        (writes examples/gravy.wav)

rtoutput("gravy.wav")
rtinput("sounds/voice.wav")     -- a mono recording, 3.2 seconds
load("gravy")

-- Table 1, the grain window: a Hanning window. Hanning grains that overlap
-- by half a window add up to a steady level.
gen(1, 20, 1024, 2)

local voice = 3.2               -- seconds of the recording to process
local grain = 0.08              -- window length, seconds

--     p0 out  p1 in  p2 length  p3 window  p4 amp  p5 stretch  p6 interval  p7 channel  p8 left share
gravy(0,      0,     voice,     grain,     0.9,    2,          0.07,        0,          0.5)
