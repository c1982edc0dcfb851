class Counter:
    def __init__(self):
        self.count = 0
        self.total = 0
    def bump(self, n):
        self.count = self.count + 1
        self.total = self.total + n
counter = Counter()
for i in range(1, 1000001):
    counter.bump(i)
    counter.total = counter.total - i
print(counter.count + counter.total)
