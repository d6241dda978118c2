-- A bus that reads an input channel the file does not have refuses the note.
-- exit: 1
-- stderr: score.lua:{line}: PAN: the bus configuration reads input channel 3 of a 1-channel input
-- stderr: vemora: the score played no notes; nothing written
bus_config("PAN", "in3", "out0-1")
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, 0.5)  -- @
