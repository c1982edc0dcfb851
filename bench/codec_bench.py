# The same work as codec_bench.zan with base64, binascii and numpy.
import base64, binascii, time
import numpy as np
b = bytes.fromhex("00FF10AB") * 16777216
t = time.perf_counter(); e = base64.b64encode(b); en64 = time.perf_counter() - t
t = time.perf_counter(); d = base64.b64decode(e); de64 = time.perf_counter() - t
assert d == b
t = time.perf_counter(); e = binascii.hexlify(b).upper(); en16 = time.perf_counter() - t
t = time.perf_counter(); d = binascii.unhexlify(e); de16 = time.perf_counter() - t
assert d == b
v = np.zeros(10000000, dtype=np.int32)
t = time.perf_counter(); v *= 3; vec = time.perf_counter() - t
print(en64, de64, en16, de16, vec)
