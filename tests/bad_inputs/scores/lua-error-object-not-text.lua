-- An error object that is no text still names the score.
-- exit: 1
-- stderr: vemora: score.lua: (error object is a table value)
error({})
