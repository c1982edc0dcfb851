# The same work as codec_bench.zan with base64, binascii and numpy (CPU time).
import base64, binascii, time
import numpy as np
cpu = time.process_time
reps = 10
def timed(f, n=reps):
    t = cpu()
    for _ in range(n):
        r = f()
    return (cpu() - t) / n, r
b = bytes.fromhex("00FF10AB") * 16777216
en64, e = timed(lambda: base64.b64encode(b))
de64, d = timed(lambda: base64.b64decode(e))
assert d == b
en16, e = timed(lambda: binascii.hexlify(b).upper())
de16, d = timed(lambda: binascii.unhexlify(e))
assert d == b
v = np.zeros(10000000, dtype=np.int32)
def times3():
    global v
    v *= 3
vec, _ = timed(times3, reps * 20)
print(en64, de64, en16, de16, vec)
