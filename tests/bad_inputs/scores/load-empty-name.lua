-- An empty name.
-- exit: 1
-- stderr: vemora: score.lua:{line}: load: "" is not a plug-in name (give the name alone, without a path)
load("")  -- @
