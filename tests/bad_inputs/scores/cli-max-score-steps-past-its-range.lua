-- A step limit larger than any the program can count is an error, not
-- "no limit".
-- args: --max-score-steps 9223372036854775808
-- exit: 1
-- stderr: vemora: --max-score-steps: "9223372036854775808" is not a whole number from 0 to 9223372036854775807
load("argprobe")
argprobe(0, 0.1, 1)
