-- An input at another rate than the render, with resampling turned off.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: "rate48k.wav" runs at 48000 Hz but the render runs at 44100 Hz
set_option("resample=off")
rtinput("rate48k.wav")  -- @
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)
