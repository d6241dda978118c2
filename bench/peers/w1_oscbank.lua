-- W1, oscillator bank: 64 SCULPT notes of 60 s. Voice i steps every 0.5 s
-- through f(i, j) = 100 x 2^(((5i + 7j) mod 48) / 12) Hz, j = 0 ... 119, on
-- a 1024-entry sine at amplitude 1/64, placed by pctLeft = i/63.
load("SCULPT")
local voices, steps = 64, 120
gen(1, 2, 1, 1)         -- flat phrase curve
gen(2, 10, 1024, 1)     -- sine
local levels = {}
for j = 1, steps do levels[j] = -60 end   -- -60 dB raised by 60: a gain of 1
gen(4, 2, steps, table.unpack(levels))
for i = 0, voices - 1 do
  local freqs = {}
  for j = 0, steps - 1 do freqs[j + 1] = 100 * 2 ^ (((5 * i + 7 * j) % 48) / 12) end
  gen(3, 2, steps, table.unpack(freqs))   -- each note keeps the table 3 in force when called
  SCULPT(0, 0.5, 1 / voices, steps, i / (voices - 1))
end
