# Sort 2*10^6 integers and 10^5 strings (phases timed inside).
import random
import time

def ms(t0):
    return round((time.perf_counter() - t0) * 1000, 1)

random.seed(1)
t = time.perf_counter()
ints = []
for i in range(2000000):
    ints.append(random.randint(1, 1000000000))
print("gen-ints:", ms(t), "ms")
t = time.perf_counter()
ints.sort()
print("sort-ints:", ms(t), "ms")
t = time.perf_counter()
letters = "abcdefghijklmnopqrstuvwxyz"
strs = []
for i in range(100000):
    strs.append("".join(random.choice(letters) for j in range(8)))
print("gen-strings:", ms(t), "ms")
t = time.perf_counter()
strs.sort()
print("sort-strings:", ms(t), "ms")
if len(ints) != 2000000:
    print("wrong length")
