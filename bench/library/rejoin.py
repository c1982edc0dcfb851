n = 0
for i in range(1, 1000001):
    s = "".join(["item-", str(i), ": ", str(i * 2)])
    n += len(s)
print(n)
