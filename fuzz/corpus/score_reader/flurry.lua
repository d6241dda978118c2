-- Legacy grain notes: a cloud that thickens from sparse long grains to a
-- dense shimmer while it wanders between the speakers, then a burst of
-- noise grains.
--
--   vemora examples/flurry.lua        (writes examples/flurry.wav)
--
-- flurry writes a whole note when it is called. Each grain parameter has
-- two sets (low, mid, high, tightness): set A where its control table reads
-- 0 and set B where it reads 1. The start offset moves from its first set
-- to its second over the note instead.

rtoutput("flurry.wav")
load("flurry")

gen(1, 7, 1000, 0, 100, 1, 800, 1, 100, 0)  -- phrase curve
gen(2, 7, 1000, 0, 1000, 1)                 -- density: period p3 at the start, p4 at the end
gen(3, 7, 1000, 0, 1000, 1)                 -- duration: set A, then set B
gen(4, 7, 1000, 0, 500, 1, 500, 0)          -- location: set A, set B, back to A
gen(5, 7, 1000, 0, 1000, 1)                 -- frequency: set A, then set B
gen(6, 10, 1024, 1, 0.3, 0.1)               -- the grain waveform
gen(8, 20, 1024, 2)                         -- grain envelope: Hanning

--     p0 start p1 dur p2 amp p3, p4 grain periods (s)
flurry(0,       10,    0.25,  0.12, 0.01,
       0, 0, 0.5, 1,        0, 0, 0.1, 1,        -- p5-p12  start offset: at the start, at the end
       0.06, 0.1, 0.15, 1,  0.01, 0.02, 0.03, 1, -- p13-p20 grain duration (s)
       0, 0.2, 0.4, 1,      0.6, 0.8, 1, 1,      -- p21-p28 location: share of the left channel
       200, 300, 400, 2,    800, 1200, 2000, 2,  -- p29-p36 frequency (Hz)
       5)                                        -- p37 seed

-- Noise grains (p29 below 0): the frequency sets are not used.
gen(1, 7, 1000, 1, 1000, 0)
flurry(10.5, 2, 0.1, 0.03, 0.03,
       0, 0, 0.3, 1,        0, 0, 0.3, 1,
       0.005, 0.01, 0.02, 1, 0.005, 0.01, 0.02, 1,
       0, 0.5, 1, 1,        0, 0.5, 1, 1,
       -1, 0, 0, 0,         -1, 0, 0, 0,
       9)
