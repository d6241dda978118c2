-- MORPHOSC: a sine that turns into a square, then a short phrase that turns
-- back.
--
--   vemora examples/morphosc.lua        (writes examples/morphosc.wav)
--
-- MORPHOSC plays one pitch through one oscillator per waveform table (p6,
-- p7 ...) and fades between neighbouring waveforms by the morph, p4. With
-- two waveforms the morph has two intervals: from 0 to 0.5 the first
-- waveform sounds alone, from 0.5 to 1 it fades into the second, which
-- sounds alone at 1. Pitch, amplitude, morph and pan are re-read at the
-- control rate, so each may be a table made by tab() that moves during the
-- note.

rtoutput("morphosc.wav")
load("MORPHOSC")

-- The waveforms: a sine, and a square built from its odd harmonics.
local sine = tab(10, 2048, 1)
local square = tab(10, 2048, 1, 0, 1/3, 0, 1/5, 0, 1/7, 0, 1/9, 0, 1/11, 0, 1/13, 0, 1/15)

-- The morph of the first note: from 0.5 (the sine alone) up to 1 (the
-- square alone), slowly at first. The amplitude rises and falls with it.
local toSquare = tab(5, 1000, 0.5, 1000, 1)
local swell = tab(7, 1000, 0, 100, 0.3, 800, 0.3, 100, 0)

--        p0 start  p1 dur  p2 pitch  p3 amp  p4 morph  p5 share left  p6, p7 waveforms
MORPHOSC(0,        5,      7.09,     swell,  toSquare, 0.5,           sine, square)

-- A phrase in octave.pitch-class (below 15 the pitch is read as pch): each
-- note starts square and turns into a sine, and wanders from left to right.
local toSine = tab(7, 1000, 1, 1000, 0.5)
local phrase = {8.00, 8.03, 8.07, 8.10, 9.00}
for i, pitch in ipairs(phrase) do
  local start = 5.5 + (i - 1) * 0.6
  MORPHOSC(start, 1.2, pitch, tab(5, 1000, 0.25, 1000, 0.001), toSine, 1 - (i - 1) / 4, sine, square)
end
