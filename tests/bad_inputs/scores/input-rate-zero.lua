-- An input whose header gives a sampling rate of 0: said in plain words,
-- not in libsndfile's.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: cannot open "rate0.wav": not a sound file libsndfile can read: its header gives a sampling rate, channel count or length that cannot be (0 Hz, say)
load("PAN")
rtinput("rate0.wav") -- @
PAN(0, 0, 0.1, 0.5, 0, 0, 0.5)
