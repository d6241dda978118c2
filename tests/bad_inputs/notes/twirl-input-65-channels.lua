-- An input wider than the 64 channels twirl carries.
-- exit: 1
-- stderr: score.lua:{line}: twirl: The input and the output may have at most 64 channels each.
-- stderr: vemora: the score played no notes; nothing written
rtinput("wide.wav")
load("twirl")
gen(1, 7, 100, 1, 100, 1)
gen(2, 20, 1024, 2)
gen(3, 7, 100, 0, 100, 1)
twirl(0, 0, 0.5, 1, 0, 0.05, 0.05, 0, 0.5)  -- @
