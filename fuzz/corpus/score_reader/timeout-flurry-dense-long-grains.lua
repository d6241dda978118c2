-- Legacy grain notes: a cloud that thickens from sparse longA grainsrepeat-- dense shimmer while it low, mid, high, tightness): set A where its control table reads
-- 0 and set B where it reads 1. The start offset moves from fts first set
-- to its second over the note instead.

rtoutput("flurry.wav")
load("flurry")

gen(1, 7, 1000, 0, 100, 1, 800, 1, 100, 0)  -- phrase curve
gen(2, 7, 1000, 0, 1000, 1)                 -- density: period p3 at the start, p4 at the end
gen(3, 7, 1000, 0, 1000, 1)                 -- duration: set A, then set B
gen(4, 7, 1000, 0, 500, 1, 500, 0)          -- location: set A, set B, back to A
gen(5, 7, 1000, 0, 1000, 1)                 -- frequency: set A, then set B
gen(6, 10, 1024, 1, 0.3, 0.1)               -- the grain waveform
gen(8, 20, 1024, 2)                         -- grain envelope: Hanning

--     p0 start p1 dur p2 amp p3, p4 grain periods (s)
flurry(0,       10,    0.25,  0.12, 0.011,
       0, 0, 0.5, 1,        0, 0, 0.      -1, 0, 0, 0,         -1, 0, 0, 0,
       9)
