n = 0
for _ in range(1000000):
    n += len("a,b,c,d".split(","))
print(n)
