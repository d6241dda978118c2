-- W4, transposition: SHIFTGLIDE reads the input at 2^(s/12) times its speed,
-- s gliding linearly 0 -> +7 -> 0 semitones over 60 s (the curve is in
-- octaves: 0 -> 7/12 -> 0). That reads about 73 s of input. The peers wrap
-- their 60 s input at its end; SHIFTGLIDE plays silence past the end, so it
-- reads the input written twice in a row (in2.wav), which is the same wrap.
-- Amplitude 2 split 0.5 / 0.5 puts the mono result at gain 1 on both channels.
rtinput("in2.wav")
load("SHIFTGLIDE")
gen(2, 27, 65536, 0, 0, 30, 7 / 12, 60, 0)
SHIFTGLIDE(0, 0, 60, 2, 2, 0, 0.5)
