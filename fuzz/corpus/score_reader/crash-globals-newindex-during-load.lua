setmetatable(_G, {__newindex = function() error("no new globals") end})
load("PAN")
