# The same work as map_bench.zan: dict puts and gets, set membership.
import time
n = 1000000
m = {}
t = time.perf_counter()
for i in range(1, n + 1):
    m[i] = i
for i in range(1, n + 1):
    m.get(i)
int_keys = time.perf_counter() - t
keys = [str(i) for i in range(1, n + 1)]
s = {}
t = time.perf_counter()
for k in keys:
    s[k] = 1
for k in keys:
    s.get(k)
str_keys = time.perf_counter() - t
h = set(range(1, 100001))
t = time.perf_counter()
for i in range(1, 100001):
    i in h
finds = time.perf_counter() - t
print(int_keys, str_keys, finds)
