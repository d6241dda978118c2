-- twirl reads input; the score named none.
-- exit: 1
-- stderr: score.lua:{line}: twirl: setnote: this note reads input, but the score has not named one (call rtinput first)
-- stderr: vemora: the score played no notes; nothing written
load("twirl")
gen(2, 20, 1024, 2)
gen(3, 7, 100, 0, 100, 1)
twirl(0, 0, 0.5, 1, 0, 0.05, 0.05, 0, 0.5)  -- @
