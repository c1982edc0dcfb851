local i, s = 0, 0
while i < 10000000 do
  s = s + i
  if s > 1000000 then s = s - 1000000 end
  i = i + 1
end
print(s)
