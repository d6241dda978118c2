-- A shared library with none of the entries a plug-in offers.
-- args: --plugin-path plugins
-- exit: 1
-- stderr: vemora: score.lua:{line}: load: plugins/libNOENTRY.so is not a plug-in: it has none of rtprofile, profile or makeNOENTRY
load("NOENTRY")  -- @
