local t = tab(2, 2, 1, 2)
getmetatable(t).__gc(t)
