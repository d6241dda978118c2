-- A voice that glides up an octave and back: SHIFTGLIDE.
--
--   vemora examples/shiftglide.lua        (writes examples/shiftglide.wav)
--
-- SHIFTGLIDE plays the input faster or slower so that its pitch follows a
-- curve in linear octaves: 0 is the voice as recorded, 1 an octave up. Going
-- up also speeds the words up, so the voice is used up sooner: the note's
-- length is set by its duration alone, and past the end of the recording it
-- is silent.

rtoutput("shiftglide.wav")
rtinput("sounds/voice.wav")     -- a mono recording, 3.2 seconds
load("SHIFTGLIDE")

-- Table 2, the pitch curve: from the voice's own pitch up an octave at the
-- middle of the note, and back. Entries are read without interpolation, so
-- a fine table glides smoothly.
gen(2, 7, 4096, 0, 2048, 1, 2048, 0)

-- Table 1, the phrase curve: a short fade in and out.
gen(1, 7, 1000, 0, 20, 1, 940, 1, 40, 0)

-- Over a glide from 0 to 1 octave and back the voice runs on average
-- 1 / ln 2 = 1.44 times as fast, so 3.2 s of it last about 2.2 s.
local seconds = 3.2 / 1.4427

-- p0 start  p1 inskip  p2 dur  p3 amp  p4 pitch table  p5 input channel
-- p6 share of the left channel
SHIFTGLIDE(0, 0, seconds, 0.9, 2, 0, 0.5)

-- The same glide once more, a little to the left, starting 1 s into the
-- recording. A negative p2 is an end time in the input: the note lasts
-- -p2 - p1 = 2 s, the span from 1 s to 3 s of the recording at its own
-- speed (the glide reads faster, so it runs past 3 s), and the pitch curve
-- is stretched over those 2 s.
SHIFTGLIDE(seconds + 0.5, 1.0, -3.0, 0.9, 2, 0, 0.7)
