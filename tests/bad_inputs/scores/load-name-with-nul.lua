-- A NUL inside the name would cut the file name short.
-- exit: 1
-- stderr: vemora: score.lua:{line}: load: "PA\x00N" is not a plug-in name (give the name alone, without a path)
load("PA\0N")  -- @
