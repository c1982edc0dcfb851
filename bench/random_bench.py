# The same work as random_bench.zan; prints "times <shuffle> <draws>" on stderr.
import random
import sys
import time

b = list(range(1, 1000001))
t0 = time.perf_counter()
random.shuffle(b)
t1 = time.perf_counter()
for _ in range(1000000):
    random.randrange(1000)
t2 = time.perf_counter()
print("times %.6f %.6f" % (t1 - t0, t2 - t1), file=sys.stderr)
