-- Control characters in a name are shown escaped: a score cannot print a
-- line of its own making, nor move the terminal's cursor.
-- exit: 1
-- stderr: vemora: score.lua:{line}: rtinput: cannot open "X\nvemora: wrote take.wav\x1b[2J": No such file or directory
load("PAN")
rtinput("X\nvemora: wrote take.wav\27[2J") -- @
