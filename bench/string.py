def build():
    s = ""
    for _ in range(1000000):
        s += "x"
    return s
print(len(build()))
