-- An input cut short inside its sound is read as far as it goes, with a word about it.
-- exit: 0
-- stderr: score.lua:{line}: rtinput: "truncated.wav" is cut short (its header promises more sound than the file holds): its 200 frames are read, then silence
rtinput("truncated.wav")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
