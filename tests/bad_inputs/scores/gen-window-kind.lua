-- A window that does not exist.
-- exit: 1
-- stderr: vemora: score.lua:{line}: gen: gen 20: window kind must be 1 (Hamming), 2 (Hanning), 3 (Bartlett) or 4 (Blackman), got 9
gen(1, 20, 100, 9)  -- @
