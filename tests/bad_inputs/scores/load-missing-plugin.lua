-- A plug-in that no folder has: the message lists the folders.
-- args: --plugin-path plugins
-- exit: 1
-- stderr-has: vemora: score.lua:{line}: load: no plug-in named NOSUCH (searched: plugins:
load("NOSUCH")  -- @
