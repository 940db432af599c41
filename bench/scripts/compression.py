# Compression, decompression and checksums of 100 MB (phases timed inside).
# gzip at level 6, the level both zlib and Zuv use by default; zstd-3 is the
# zstd tool on one thread writing to the null device.
import gzip
import hashlib
import subprocess
import time
import zlib

def ms(t0):
    return round((time.perf_counter() - t0) * 1000, 1)

PATH = "../data/compression.bin"
with open(PATH, "rb") as f:
    b = f.read()
t = time.perf_counter(); z = zlib.compress(b); print("compress-zlib:", ms(t), "ms")
t = time.perf_counter(); g = gzip.compress(b, compresslevel=6, mtime=0); print("compress-gzip:", ms(t), "ms")
t = time.perf_counter(); d = gzip.decompress(g); print("decompress-gzip:", ms(t), "ms")
if d != b:
    print("gzip round trip differs")
t = time.perf_counter(); d = zlib.decompress(z, bufsize=len(b)); print("decompress-zlib-size:", ms(t), "ms")
if d != b:
    print("zlib round trip differs")
t = time.perf_counter(); d = zlib.decompress(z); print("decompress-zlib-nosize:", ms(t), "ms")
t = time.perf_counter(); zlib.crc32(b); print("crc32:", ms(t), "ms")
t = time.perf_counter(); hashlib.sha256(b).digest(); print("sha256:", ms(t), "ms")
t = time.perf_counter()
subprocess.run(["zstd", "-T1", "-3", "-q", "-c", PATH], stdout=subprocess.DEVNULL, check=True)
print("zstd-3:", ms(t), "ms")
