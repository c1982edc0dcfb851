b = []
n = 12345
for _ in range(1000000):
    n = (n * 1103515245 + 12345) % 2147483648
    b.append(n % 1000000)
b.sort()
print(b[0], b[-1])
