-- DUMP watches p2: a note without it has nothing to show.
-- exit: 1
-- stderr: score.lua:{line}: DUMP: Give at least 3 pfields: start, duration and the value to watch (p2); this note has 2.
-- stderr: vemora: the score played no notes; nothing written
load("DUMP")
DUMP(0, 0.5)  -- @
