-- The voice of examples/demo.lua with a tremolo: four swings a second, the
-- level falling to a quarter at each trough.
--
--   vemora --plugin-path build tremolo.lua     (writes tremolo.wav here)

rtoutput("tremolo.wav")
rtinput("../sounds/voice.wav")  -- mono, 3.2 seconds
load("TREMOLO")

--      p0 start  p1 inskip  p2 dur  p3 amp  p4 rate (Hz)  p5 depth
TREMOLO(0,        0,         3.2,    0.8,    4,            0.75)
