local b, n = {}, 12345
for k = 1, 1000000 do
  n = (n * 1103515245 + 12345) % 2147483648
  b[k] = n % 1000000
end
table.sort(b)
print(b[1], b[#b])
