-- A window shorter than a frame.
-- exit: 1
-- stderr: score.lua:{line}: twirl: The window (p6) must be at least one frame long.
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("twirl")
gen(1, 7, 100, 1, 100, 1)
gen(2, 20, 1024, 2)
gen(3, 7, 100, 0, 100, 1)
twirl(0, 0, 0.5, 1, 0, 0.05, 0, 0, 0.5)  -- @
