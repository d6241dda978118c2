-- A string that never ends.
-- exit: 1
-- stderr: vemora: score.lua:4: unfinished string near '"take.wav)'
rtoutput("take.wav)
