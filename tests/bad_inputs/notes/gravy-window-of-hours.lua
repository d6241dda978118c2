-- A window of 30,000 seconds: refused before its arrays take gigabytes.
-- exit: 1
-- stderr: score.lua:{line}: gravy: Error allocating input array... sorry!
-- stderr: vemora: the score played no notes; nothing written
rtinput("mono.wav")
load("gravy")
gen(1, 20, 1024, 2)
gravy(0, 0, 0.5, 3e4, 1, 1, 0.07, 0, 0.5)  -- @
