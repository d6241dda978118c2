-- An input cut inside its header.
-- exit: 1
-- stderr-has: vemora: score.lua:{line}: rtinput: cannot open "header-cut.wav": not a sound file libsndfile can read: 
rtinput("header-cut.wav")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
