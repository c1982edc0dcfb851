b = [1, 2, 3]
n = 0
for i in range(1, 10000001):
    if isinstance(b[0], int):
        n += 1
    n += b[-1]
    if not b:
        n += 1
    n += i % 7
    n += len(str(i))
print(n)
