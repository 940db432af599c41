# Pickle: encode and decode the same nested list as zuvbin_codec.zuv.
import pickle
import time


def ms(t0):
    return round((time.perf_counter() - t0) * 1000, 1)


t = time.perf_counter()
data = [[i, i * 1.5, "item-text-" + str(i), [i, True, None]] for i in range(1, 250001)]
print("generate: %s ms" % ms(t))
t = time.perf_counter()
b = pickle.dumps(data)
print("encode: %s ms" % ms(t))
t = time.perf_counter()
back = pickle.loads(b)
print("decode: %s ms" % ms(t))
print("bytes: %d" % len(b))
if len(back) != 250000:
    print("wrong length")
