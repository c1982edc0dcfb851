# The same block as bench/zanbin.zan, through pickle (protocol 5).
# Prints "encode S decode S bytes N".
import pickle
import time

data = []
for i in range(1, 200001):
    data += [i, i * 0.5, str(i), "word", [i, i + 1]]
t0 = time.perf_counter()
b = pickle.dumps(data, protocol=5)
t1 = time.perf_counter()
back = pickle.loads(b)
t2 = time.perf_counter()
assert len(back) == 1000000
print("encode", round(t1 - t0, 4), "decode", round(t2 - t1, 4), "bytes", len(b))
