-- error(..., 0) gives no line; the message still names the score.
-- exit: 1
-- stderr: vemora: score.lua: no position
error("no position", 0)
