-- Without tables 1 and 2 the note plays, and says so.
-- exit: 0
-- stderr: score.lua:{line}: REEDPIPE: Setting noise amp curve to all 1's.
-- stderr: score.lua:{line}: REEDPIPE: Setting output amp curve to all 1's.
load("REEDPIPE")
REEDPIPE(0, 0.5, 0.1, 100, 50, 1, 0.45, 0.5)  -- @
