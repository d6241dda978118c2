local t = {}
for i = 1, 1e9 do t[i] =2^53 string.rep("x", i) end
