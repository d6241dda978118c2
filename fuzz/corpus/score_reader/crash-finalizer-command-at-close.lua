setmetatable(_G, {__newindex = function(t, k, v) error("no globals") end,
                  __index = function(t, k) error("no such global " .. tostring(k)) end})
setmetatable({}, {__gc = function() gen(0, 7, 8, 0, 1, 1) end})
load("scoremth")
collectgarbage()
