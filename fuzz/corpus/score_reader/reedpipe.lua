-- A reed melody: REEDPIPE blown through a short tune.
--
--   vemora examples/reedpipe.lua        (writes examples/reedpipe.wav)
--
-- REEDPIPE has no pitch pfield: the pitch comes from the delay lines. A tone
-- runs once round both lines and the reed per period, so a delay of d
-- samples sounds at about SR / (2d + 1) Hz. Delays stop at 500 samples,
-- which puts the lowest note near 44 Hz at 44100 Hz; high notes come out
-- a little flat or sharp because delays are whole samples.

rtoutput("reedpipe.wav")
load("REEDPIPE")

local sr = 44100

-- Delay in samples for a MIDI note number.
local function delayFor(midi)
  local hz = 440 * 2 ^ ((midi - 69) / 12)
  return math.floor((sr / hz - 1) / 2 + 0.5)
end

-- Table 1, the breath: a quick attack, a long swell, a release. Table 2,
-- the output envelope, shapes each note's loudness on top of it. Both are
-- stretched over every note.
gen(1, 7, 1000, 0, 60, 1, 700, 0.85, 240, 0)
gen(2, 7, 1000, 0, 30, 1, 870, 1, 100, 0)

-- { MIDI note, beats }
local tune = {
  {57, 1}, {60, 1}, {64, 1}, {62, 0.5}, {60, 0.5},
  {59, 1}, {55, 1}, {57, 2},
  {52, 1}, {57, 1}, {60, 1.5}, {59, 0.5},
  {57, 3},
}

local beat = 0.42
local t = 0.2
for i, note in ipairs(tune) do
  local midi, beats = note[1], note[2]
  local d = delayFor(midi)
  local dur = beats * beat
  -- p0 start, p1 dur, p2 breath noise, p3 and p4 the delays (samples),
  -- p5 amplitude, p6 reflection balance, p7 share of channel 0 (left):
  -- the phrase drifts slowly from left to right.
  REEDPIPE(t, dur * 1.05, 0.04, d, d, 0.25, 0.45, 0.7 - 0.4 * (i - 1) / (#tune - 1))
  t = t + dur
end
