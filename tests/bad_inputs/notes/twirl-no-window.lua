-- No window envelope in table 2.
-- exit: 1
-- stderr: score.lua:{line}: twirl: You haven't made the window envelope (table 2).
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("twirl")
gen(1, 7, 100, 1, 100, 1)
gen(3, 7, 100, 0, 100, 1)
twirl(0, 0, 0.5, 1, 0, 0.05, 0.05, 0, 0.5)  -- @
