-- TETRAPOS reads input; the score named none.
-- exit: 1
-- stderr: score.lua:{line}: TETRAPOS: this note reads input, but the score has not named one (call rtinput first)
-- stderr: vemora: the score played no notes; nothing written
set_option("channels=4")
load("TETRAPOS")
TETRAPOS(0, 0, 0.5, 1, 0, 0)  -- @
