n = 0
for i in range(1, 1000001):
    k = i % 4
    n = n + 1 if k == 0 else n + 2
    n = n + (3 if k == 1 else 4 if k == 2 else 5)
    n = n + {0: 1, 1: 2, 2: 3, 3: 4}[k]
print(n)
