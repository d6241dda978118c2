-- A granular cloud: a low stream of grains that swells and fades, and a
-- bright, quicker stream that scatters across the stereo field above it.
--
--   vemora examples/flurryr.lua        (writes examples/flurryr.wav)
--
-- Every note cuts its time into grain periods of p3 seconds and plays one
-- grain in each; each grain draws its position in the period, its length,
-- its place between the speakers and its frequency from a range
-- (low, mid, high, tightness): tightness above 1 crowds the draws around
-- the mid, below 1 pushes them out towards the bounds.

rtoutput("flurryr.wav")
load("FLURRYR")

gen(2, 10, 1024, 1, 0.5, 0.3, 0.2)           -- table 2, the grain waveform
gen(3, 20, 1024, 2)                          -- table 3, a Hanning grain envelope
gen(1, 7, 1000, 0, 300, 1, 500, 1, 200, 0)   -- table 1, the phrase curve

-- The low stream: a grain every 50 ms, 20 to 50 ms long, crowded near the
-- middle of the field, pitches between C3 and C4 written as
-- octave.pitch-class (frequencies below 15 are read that way).
--        p0 start  p1 dur  p2 amp  p3 period
FLURRYR(0,        8,      0.3,    0.05,
        0, 0.5, 1, 1,                   -- p4-p7   position in the period
        0.02, 0.035, 0.05, 2,           -- p8-p11  grain length, s (at most p3)
        0.3, 0.5, 0.7, 1,               -- p12-p15 placement: 1 left, 0 right
        7.00, 7.07, 8.00, 2,            -- p16-p19 frequency
        0, 1)                           -- p20 unused, p21 random seed

-- The high stream enters at 2 s: a grain every 20 ms, short, scattered over
-- the whole field (tightness 0.5 favours the edges), 1 to 4 kHz. A note
-- reads its tables when it is called, so a new phrase curve in slot 1
-- shapes this note only.
gen(1, 7, 1000, 0, 500, 1, 500, 0)
FLURRYR(2, 6, 0.12, 0.02,
        0, 0.5, 1, 1,
        0.005, 0.01, 0.019, 1,          -- p10 stays below p3: see the notes
        0, 0.5, 1, 0.5,
        1000, 2000, 4000, 3,
        0, 2)
