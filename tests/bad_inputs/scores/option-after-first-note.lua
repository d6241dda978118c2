-- Settings change nothing once a note is made.
-- exit: 1
-- stderr: vemora: score.lua:{line}: set_option: options must come before the first note
load("argprobe")
argprobe(0, 0.1, 1)
set_option("sr=48000")  -- @
