local b, n = {}, 12345
for k = 1, 1000000 do
  n = (n * 75 + 74) % 65537
  b[k] = n
end
table.sort(b)
print(b[1], b[#b])
