-- load of nothing.
-- exit: 1
-- stderr: vemora: score.lua:{line}: load: argument 1 (plug-in name) must be a text, not nil
load(nil)  -- @
