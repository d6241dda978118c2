-- An amplitude that is no number plays, but every sample it makes is NaN:
-- the file holds 0 there, and the program says so.
-- exit: 0
-- stderr: vemora: score.wav: 44100 samples were NaN or infinite; they were written as 0 (NaN) or full scale (infinite)
-- stderr: vemora: warning: score.wav: channel 0 stayed silent (peak -inf)
-- stderr: vemora: warning: score.wav: channel 1 stayed silent (peak -inf)
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, 0 / 0, 0, 0, 0.5)
