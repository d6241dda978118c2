-- A plug-in given by its path.
-- exit: 1
-- stderr: vemora: score.lua:{line}: load: "/usr/lib/PAN" is not a plug-in name (give the name alone, without a path)
load("/usr/lib/PAN")  -- @
