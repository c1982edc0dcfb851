def scale(x, by=None):
    return x * by if by is not None else x
total = 0
for i in range(1000000):
    total = total + scale(1, by=3)
    total = total - scale(2)
print(total)
