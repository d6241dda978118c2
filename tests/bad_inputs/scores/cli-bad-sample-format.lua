-- A sample format the writer does not offer.
-- command: --sample-format 32 score.lua
-- exit: 1
-- stderr: vemora: --sample-format: 32 not in {16,24,float}
-- stderr: Run 'vemora --help' for the options.
load("argprobe")
argprobe(0, 0.1, 1)
