-- gravy reads input; the score named none.
-- exit: 1
-- stderr: score.lua:{line}: gravy: setnote: this note reads input, but the score has not named one (call rtinput first)
-- stderr: vemora: the score played no notes; nothing written
load("gravy")
gen(1, 20, 1024, 2)
gravy(0, 0, 0.5, 0.05, 1, 1, 0.07, 0, 0.5)  -- @
