-- No grain window in table 1.
-- exit: 1
-- stderr: score.lua:{line}: gravy: You haven't made a window envelope function (table 1).
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("gravy")
gravy(0, 0, 0.5, 0.05, 1, 1, 0.07, 0, 0.5)  -- @
