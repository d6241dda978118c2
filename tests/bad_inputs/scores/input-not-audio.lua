-- Text under a sound file's name.
-- exit: 1
-- stderr-has: vemora: score.lua:{line}: rtinput: cannot open "words.wav": not a sound file libsndfile can read: 
rtinput("words.wav")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
