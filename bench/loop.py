i = 0
s = 0
while i < 10000000:
    s = s + i
    if s > 1000000:
        s = s - 1000000
    i = i + 1
print(s)
