-- A call left open at the end of the score.
-- exit: 1
-- stderr: vemora: score.lua:6: unexpected symbol near <eof>
load("argprobe")
argprobe(0, 1,
