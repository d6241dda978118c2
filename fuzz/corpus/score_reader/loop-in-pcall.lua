local n = 0
while true do
  pcall(function() while true do n = n + 1 end end)
end
