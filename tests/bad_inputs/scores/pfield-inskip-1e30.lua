-- An input start far past any input (1e30 s, more frames than a 64-bit
-- count holds): the note reads silence and plays.
-- exit: 0
-- stderr: vemora: warning: score.wav: channel 0 stayed silent (peak -inf)
-- stderr: vemora: warning: score.wav: channel 1 stayed silent (peak -inf)
rtinput("mono.wav")
load("PAN")
PAN(0, 1e30, 0.5, 1, 0, 0, 0.5)
