-- A phrase built with the score functions: sixteen short grain notes whose
-- pitches crowd around a centre that rises and falls, whose loudness varies
-- around a mean, and whose place follows a sine from left to right.
--
--   vemora examples/scoremath.lua        (writes examples/scoremath.wav)
--
-- The functions are called while the score is read, so every value below
-- is fixed before anything sounds. Their random numbers come from one
-- generator that nothing reseeds: the score renders the same on every run.

rtoutput("scoremath.wav")
load("scoremath")
load("FLURRYR")

gen(2, 10, 1024, 1, 0.4, 0.2)
gen(3, 20, 1024, 2)
gen(1, 7, 1000, 0, 100, 1, 900, 0)

local notes = 16
local step = 0.4
for i = 0, notes - 1 do
  local progress = i / (notes - 1)
  -- The centre climbs from 300 to 900 Hz and back: a sine over the phrase.
  local centre = map(sin(progress * math.pi), 300, 900)
  -- prob(low, mid, high, tightness): pitches crowd around the centre.
  local freq = prob(200, centre, 1200, 2)
  -- gaussrand centres on 0.5; constrain keeps the level in a sane band.
  local amp = constrain(gaussrand() * 0.4, 0.08, 0.3)
  -- The place sweeps from left (1) to right (0) with a little jitter.
  local place = constrain(map(cos(progress * math.pi), -1, 1, 0, 1) + (trirand() - 0.5) * 0.2, 0, 1)
  -- Grain periods drawn towards the short end; lengths up to the period.
  local period = 0.02 + lowrand() * 0.03
  local start = i * step + highrand() * 0.05
  FLURRYR(start, step * 1.5, amp, period,
          0, 0.5, 1, 1,
          0.005, period / 2, period * 0.99, 1,
          place, place, place, 1,
          freq * 0.98, freq, freq * 1.02, 4,
          0, i + 1)
end
