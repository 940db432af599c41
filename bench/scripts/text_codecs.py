# uppercase, enbase and debase base 64 of 100 MB (phases timed inside).
import base64
import time

def ms(t0):
    return round((time.perf_counter() - t0) * 1000, 1)

s = "The quick brown fox jumps over the lazy dog 0123456789. " * 1785715
t = time.perf_counter()
s = s.upper()
print("uppercase:", ms(t), "ms")
b = s.encode()
t = time.perf_counter()
e = base64.b64encode(b)
print("enbase:", ms(t), "ms")
t = time.perf_counter()
d = base64.b64decode(e)
print("debase:", ms(t), "ms")
if d != b:
    print("round trip differs")
