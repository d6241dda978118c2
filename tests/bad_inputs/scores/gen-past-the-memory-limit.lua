-- A table larger than the memory the score may take.
-- args: --max-memory 1M
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: a table of 1000000 entries would take the score past its memory limit of 1048576 bytes
gen(1, 7, 1000000, 0, 1000000, 1) -- @
