-- A plug-in name that climbs out of the plug-in folder.
-- exit: 1
-- stderr: vemora: score.lua:{line}: load: "../PAN" is not a plug-in name (give the name alone, without a path)
load("../PAN")  -- @
