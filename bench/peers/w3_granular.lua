-- W3, granular: 60 s of grains, 50 per second, 10-40 ms long at 200-2000 Hz,
-- placed at random, each a sine under a Hanning window at amplitude 0.3.
-- FLURRYR refuses grains longer than its grain period (20 ms at 50 grains/s),
-- so two overlapping notes of 25 grains/s (40 ms periods) with their own
-- seeds make the 50 grains/s. The longest grain is 39.9 ms: a length equal to
-- the period is refused, since 0.04 s is not exact in single precision.
local seconds = 60
load("FLURRYR")
gen(2, 10, 1024, 1)     -- sine
gen(3, 20, 1024, 2)     -- Hanning grain envelope
for seed = 1, 2 do
  FLURRYR(0, seconds, 0.3, 0.04,
          0, 0.5, 1, 1,               -- position in the period: anywhere
          0.010, 0.025, 0.0399, 1,    -- grain length, s
          0, 0.5, 1, 1,               -- placement: anywhere
          200, 1100, 2000, 1,         -- frequency, Hz
          0, seed)
end
