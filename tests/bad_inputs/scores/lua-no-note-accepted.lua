-- Tables and settings, but no note: nothing to write.
-- exit: 1
-- stderr: vemora: the score played no notes; nothing written
set_option("sr=48000")
gen(1, 7, 100, 0, 100, 1)
