-- No pitch shift envelope in table 3.
-- exit: 1
-- stderr: score.lua:{line}: twirl: You haven't made the pitch shift envelope (table 3).
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("twirl")
gen(1, 7, 100, 1, 100, 1)
gen(2, 20, 1024, 2)
twirl(0, 0, 0.5, 1, 0, 0.05, 0.05, 0, 0.5)  -- @
