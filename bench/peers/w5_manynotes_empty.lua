-- W5 control: the score of w5_manynotes.lua played by an instrument that
-- writes nothing (the test plug-in FRAMEPROBE, mode 1), so what is left is
-- the engine's cost per note. FRAMEPROBE: vemora --plugin-path BUILD/test-plugins.
local notes = 20000
load("FRAMEPROBE")
for k = 0, notes - 1 do
  gen(3, 2, 1, 200 + (7919 * k) % 1801)
  FRAMEPROBE(k * 0.003, 0.01, 1)
end
