-- An option the program does not have.
-- command: --loud score.lua
-- exit: 1
-- stderr: vemora: The following argument was not expected: --loud
-- stderr: Run 'vemora --help' for the options.
load("argprobe")
argprobe(0, 0.1, 1)
