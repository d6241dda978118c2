-- A point sequence: SCULPT steps one oscillator through a row of pitches
-- and levels, twice, over a phrase curve, with a slower echo of the row.
--
--   vemora examples/sculpt.lua        (writes examples/sculpt.wav)
--
-- Every point of a SCULPT note lasts p1 seconds; point i plays entry i of
-- table 3 (Hz) at the level of entry i of table 4 (dB). Levels are raised
-- by 60 dB before use, so an entry of -60 plays at the amplitude p2 itself,
-- -66 at half of it and -54 at twice it.

rtoutput("sculpt.wav")
load("SCULPT")

-- Table 2, the waveform: a few odd harmonics, a soft square.
gen(2, 10, 1024, 1, 0, 0.33, 0, 0.2, 0, 0.14)

-- Table 1, the phrase curve over each whole note. It is read once at the
-- start of every point, so each point keeps the curve's value at its start.
gen(1, 7, 1000, 0.3, 400, 1, 600, 0.2)

-- Tables 3 and 4: sixteen points, a rising and falling row with accents.
local row = {220, 262, 330, 392, 440, 392, 330, 294,
             262, 330, 392, 523, 494, 440, 392, 330}
local levels = {-60, -66, -63, -66, -58, -66, -63, -66,
                -60, -66, -63, -66, -57, -64, -66, -69}
gen(3, 2, #row, table.unpack(row))
gen(4, 2, #levels, table.unpack(levels))

-- p0 start, p1 seconds per point, p2 amplitude, p3 number of points,
-- p4 share of channel 0 (left).
SCULPT(0, 0.18, 0.5, #row, 0.75)
SCULPT(#row * 0.18, 0.18, 0.5, #row, 0.75)

-- The echo: the same row an octave down at half speed, on the right.
-- A note takes the tables in force when it is called, so remaking table 3
-- afterwards would not change the notes above.
local low = {}
for i, hz in ipairs(row) do low[i] = hz / 2 end
gen(3, 2, #low, table.unpack(low))
SCULPT(0.09, 0.36, 0.35, #low, 0.2)
