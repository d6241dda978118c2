-- DUMP takes a mono or stereo output.
-- exit: 1
-- stderr: score.lua:{line}: DUMP: Output must be mono or stereo.
-- stderr: vemora: the score played no notes; nothing written
set_option("channels=3")
load("DUMP")
DUMP(0, 0.01, 1)  -- @
