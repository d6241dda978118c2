-- The SCULPT oscillator bank: 64 voices x 60 s, each stepping every 0.5 s
-- through 100 x 2^(((5i + 7j) mod 48) / 12) Hz (voice i, step j) on a
-- 1024-entry sine, amplitude 1/64, voice i at i/63 of the stereo field.
-- The same work as sculpt_bank.csd.
rtoutput("sculpt_bank.wav")
load("SCULPT")

local voices, steps = 64, 120
gen(1, 2, 1, 1)                 -- a flat phrase curve
gen(2, 10, 1024, 1)
local levels = {}
for j = 1, steps do levels[j] = -60 end
gen(4, 2, steps, table.unpack(levels))
for i = 0, voices - 1 do
  local freqs = {}
  for j = 0, steps - 1 do freqs[j + 1] = 100 * 2 ^ (((5 * i + 7 * j) % 48) / 12) end
  -- Each note keeps the table 3 in force when it is called.
  gen(3, 2, steps, table.unpack(freqs))
  SCULPT(0, 0.5, 1 / voices, steps, i / (voices - 1))
end
