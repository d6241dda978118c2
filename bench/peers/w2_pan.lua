-- W2, file pan: PAN of the 60 s mono input with an amplitude curve and a
-- moving constant-power pan.
--   amplitude (s, gain): (0, 0) (2, 1) (30, 0.5) (58, 1) (60, 0), linear
--   pan (s, p), p = 0 left ... 1 right: (0, 0) (20, 1) (40, 0) (60, 0.5);
--   PAN's pan value is the share of channel 0 (left), so its curve is 1 - p.
-- The curves are stretched over the note, so a longer note (the memory check
-- of bench/peers/run renders 600 s) keeps their shape.
local seconds = 60
rtinput("in.wav")
load("PAN")
gen(1, 27, 6001, 0, 0, 2, 1, 30, 0.5, 58, 1, 60, 0)
gen(2, 27, 6001, 0, 1, 20, 0, 40, 1, 60, 0.5)
PAN(0, 0, seconds, 1, 0, 0)
