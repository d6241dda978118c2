-- An input of no bytes.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: cannot open "empty.wav": not a sound file libsndfile can read: the file is empty
rtinput("empty.wav")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
