-- 5000 pfields: PAN reads the seven it has and plays.
-- exit: 0
-- no-stderr
rtinput("mono.wav")
load("PAN")
local p = {0, 0, 0.5, 1, 0, 0, 0.5}
for i = 8, 5000 do p[i] = 0 end
PAN(table.unpack(p))
