# The same work as map_bench.zan: dict puts and gets, set membership (CPU time).
import time
cpu = time.process_time
n = 1000000
m = {}
t = cpu()
for i in range(1, n + 1):
    m[i] = i
for i in range(1, n + 1):
    m.get(i)
int_keys = cpu() - t
keys = [str(i) for i in range(1, n + 1)]
s = {}
t = cpu()
for k in keys:
    s[k] = 1
for k in keys:
    s.get(k)
str_keys = cpu() - t
h = set(range(1, 100001))
t = cpu()
for _ in range(200):
    for i in range(1, 100001):
        i in h
finds = cpu() - t
print(int_keys, str_keys, finds)
