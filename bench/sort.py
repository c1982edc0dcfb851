b = []
n = 12345
for _ in range(1000000):
    n = (n * 75 + 74) % 65537
    b.append(n)
b.sort()
print(b[0], b[-1])
