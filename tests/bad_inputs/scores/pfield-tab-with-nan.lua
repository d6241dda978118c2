-- A tab table cannot hold NaN.
-- exit: 1
-- stderr-has: vemora: score.lua:{line}: tab: gen 7: argument 3 is not a finite number
rtinput("mono.wav")
load("PAN")
PAN(0, 0, 0.5, 1, 0, 0, tab(7, 100, 0, 100, 0 / 0))  -- @
