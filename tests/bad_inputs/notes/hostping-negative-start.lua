-- HOSTPING before the start of the score.
-- exit: 1
-- stderr: score.lua:{line}: HOSTPING: start time -1 s is before the start of the score
-- stderr: vemora: the score played no notes; nothing written
load("HOSTPING")
HOSTPING(-1)  -- @
