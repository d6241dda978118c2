-- TETRAPOS: a voice circling four speakers.
--
--   vemora examples/tetrapos.lua        (writes examples/tetrapos.wav, four channels)
--
-- The four output channels sit at the corners of a square: 0 front left,
-- 1 front right, 2 rear left, 3 rear right. TETRAPOS places its input at a
-- point (x, y) of the square, x from -1 (left) to 1 (right), y from -1
-- (rear) to 1 (front), and spreads it over the corners with constant power.
-- x, y and the amplitude are re-read at the control rate, so tables made
-- by tab() move the source during the note.

set_option("channels=4")
rtoutput("tetrapos.wav")
rtinput("sounds/voice.wav")     -- a mono recording, 3.2 seconds
load("TETRAPOS")

local voice = 3.2

-- One turn: x is a cosine and y a sine, so the source runs round the edge
-- of the field starting on the right, through the front, the left and the
-- rear. (Gen 9 takes partial, strength and phase in degrees.)
local x = tab(9, 1000, 1, 1, 90)
local y = tab(9, 1000, 1, 1, 0)

--       p0 start  p1 inskip  p2 dur  p3 amp  p4 x  p5 y  p6 input channel
TETRAPOS(0,        0,         voice,  0.9,    x,    y,    0)

-- Second pass: two turns the other way (y runs backwards), on a circle half
-- as wide, so the voice never sits in a single corner. The routine number
-- is negated to keep the strength of 0.5 (gen 9 normalises to 1 otherwise).
local x2 = tab(-9, 1000, 2, 0.5, 90)
local y2 = tab(-9, 1000, 2, 0.5, 180)
TETRAPOS(voice + 0.5, 0, voice, 0.9, x2, y2)
