-- Without table 1 the note plays, and says so.
-- exit: 0
-- stderr: score.lua:{line}: twirl: Setting phrase curve to all 1's.
rtinput("mono.wav")
load("twirl")
gen(2, 20, 1024, 2)
gen(3, 7, 100, 0, 100, 1)
twirl(0, 0, 0.5, 1, 0, 0.05, 0.05, 0, 0.5)  -- @
