-- An input start far past any input (1e30 s, more frames than a 64-bit
-- count holds): the note reads silence and plays.
-- exit: 0
-- no-stderr
rtinput("mono.wav")
load("PAN")
PAN(0, 1e30, 0.5, 1, 0, 0, 0.5)
