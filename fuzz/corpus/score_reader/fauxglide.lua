-- A voice that glides up an octave and back: FAUXGLIDE.
--
--   vemora examples/fauxglide.lua        (writes examples/fauxglide.wav)
--
-- FAUXGLIDE follows a pitch curve like SHIFTGLIDE, and also fades the sound
-- in and out over every block of input it reads (100 frames at each end of
-- a block). The fades give the glide a soft, fluttering grain whose rate is
-- set by the block length: with block=512 at 44100 Hz the input is read in
-- blocks of 11.6 ms, and the faster the read, the faster the flutter.

rtoutput("fauxglide.wav")
set_option("block=512")
rtinput("sounds/voice.wav")     -- a mono recording, 3.2 seconds
load("FAUXGLIDE")

-- Table 2, the pitch curve, in linear octaves: up an octave and back.
gen(2, 7, 4096, 0, 2048, 1, 2048, 0)

-- Table 1, the phrase curve: a short fade in and out.
gen(1, 7, 1000, 0, 20, 1, 940, 1, 40, 0)

-- On average the glide reads the voice 1 / ln 2 = 1.44 times as fast.
local seconds = 3.2 / 1.4427

-- p0 start  p1 inskip  p2 dur  p3 amp  p4 pitch table  p5 input channel
-- p6 share of the left channel
FAUXGLIDE(0, 0, seconds, 0.9, 2)

-- With longer blocks the flutter is slower; block is a setting of the whole
-- render, so compare this file with one rendered at set_option("block=2048").
