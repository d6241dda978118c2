-- DUMP: watch pfields change while notes play. DUMP makes no sound; at the
-- control rate it prints what it sees on standard output.
--
--   vemora examples/dump.lua        (prints the listing; writes examples/dump.wav, silent)
--
-- Ten refreshes a second keep the listing short: one every 4410 frames.

rtoutput("dump.wav")
set_option("control_rate=10")
load("DUMP")

-- Value mode (three pfields): p2 is a line from 0 to 1 over the half second,
-- so every refresh sees a new value and prints it (the line reaches 1 at
-- the note's last frame, 22049, so frame 4410 reads a little over 0.2):
--   DUMP (frame=0):  amp=0.000000
--   DUMP (frame=4410):  amp=0.200009
--   ...
--  p0 start  p1 dur  p2 the value to watch
DUMP(0, 0.5, tab(7, 101, 0, 100, 1))

-- A value that holds still prints once, at the note's first frame.
DUMP(0.5, 0.5, 0.75)

-- Held for the first half, then stepping up: quiet while it holds, one line
-- at the first refresh after the step (frame 13230).
DUMP(1, 0.5, tab(7, 101, 0.25, 50, 0.25, 0, 0.5, 50, 0.5))

-- Table mode (four or more pfields): the whole p3 table at every refresh,
-- whatever p2 does; the listing is flushed after each dump.
local chord = tab(2, 4, 261.63, 329.63, 392, 523.25)
DUMP(1.5, 0.25, 0, chord)
