-- A note that reads input when the score named none.
-- exit: 1
-- stderr: score.lua:{line}: PAN: this note reads input, but the score has not named one (call rtinput first)
-- stderr: vemora: the score played no notes; nothing written
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)  -- @
