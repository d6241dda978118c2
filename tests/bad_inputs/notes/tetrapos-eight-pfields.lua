-- Eight are too many.
-- exit: 1
-- stderr: score.lua:{line}: TETRAPOS: Usage: TETRAPOS(start, inskip, dur, amp, srcX, srcY [, inchan]
-- stderr: vemora: the score played no notes; nothing written
set_option("channels=4")
rtinput("mono.wav")
load("TETRAPOS")
TETRAPOS(0, 0, 0.5, 1, 0, 0, 0, 0)  -- @
