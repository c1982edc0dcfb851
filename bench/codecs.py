# Codec benchmark step for CPython: the same operations as bench/codecs.zan.
import gzip, hashlib, os, zlib
op, reps = os.environ["OP"], int(os.environ["REPS"])
data = open(os.environ["FILE"], "rb").read()
ops = {
    "none": lambda: None,
    "compress": lambda: zlib.compress(data, 6),
    "decompress": lambda: zlib.decompress(data),
    "gzip": lambda: gzip.compress(data, 6, mtime=0),
    "gunzip": lambda: gzip.decompress(data),
    "crc32": lambda: zlib.crc32(data),
    "adler32": lambda: zlib.adler32(data),
    "md5": lambda: hashlib.md5(data).digest(),
    "sha1": lambda: hashlib.sha1(data).digest(),
    "sha256": lambda: hashlib.sha256(data).digest(),
    "sha512": lambda: hashlib.sha512(data).digest(),
}
for _ in range(reps):
    ops[op]()
