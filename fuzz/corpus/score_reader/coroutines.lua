load("PAN")
local co = coroutine.wrap(function()
  for i = 1, 3 do
    PAN(i * 0.01, 0, 0.01, 0.5, 0, 0, 0.5)
    coroutine.yield(i)
  end
end)
rtinput("sounds/voice.wav")
co(); co(); co()
