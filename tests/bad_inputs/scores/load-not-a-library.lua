-- A file named like a plug-in that is no shared library.
-- args: --plugin-path plugins
-- exit: 1
-- stderr-has: vemora: score.lua:{line}: load: plugins/libNOTALIB.so cannot be loaded as a plug-in: 
load("NOTALIB")  -- @
