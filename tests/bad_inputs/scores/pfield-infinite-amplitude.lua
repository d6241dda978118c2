-- An infinite amplitude: every sample is infinite (or NaN where the input is 0).
-- exit: 0
-- stderr: vemora: score.wav: 44100 samples were NaN or infinite; they were written as 0 (NaN) or full scale (infinite)
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, math.huge, 0, 0, 0.5)
