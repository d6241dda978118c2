-- W5, many notes: 20,000 SCULPT notes of one 10 ms point, one every 3 ms, at
-- f = 200 + (7919 k mod 1801) Hz, centre-panned. Each note takes the
-- one-entry table 3 in force when it is called.
local notes = 20000
load("SCULPT")
gen(1, 2, 1, 1)         -- flat phrase curve
gen(2, 10, 1024, 1)     -- sine
gen(4, 2, 1, -60)       -- gain 1
for k = 0, notes - 1 do
  gen(3, 2, 1, 200 + (7919 * k) % 1801)
  SCULPT(k * 0.003, 0.01, 0.42426, 1, 0.5)
end
