-- A window of no frames would never move the output on.
-- exit: 1
-- stderr: score.lua:{line}: gravy: The window (p3) must be at least one frame long.
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("gravy")
gen(1, 20, 1024, 2)
gravy(0, 0, 0.5, 0, 1, 1, 0.07, 0, 0.5)  -- @
