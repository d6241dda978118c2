-- Without table 1 the note plays at p3 alone, and says so.
-- exit: 0
-- stderr: score.lua:{line}: FAUXGLIDE: Setting phrase curve to all 1's.
rtinput("mono.wav")
load("FAUXGLIDE")
gen(2, 2, 1, 0)
FAUXGLIDE(0, 0, 0.5, 1, 2)  -- @
