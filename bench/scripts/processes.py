# 1,000 waited calls of true; 100 MB captured from head (phases timed inside).
import subprocess
import time

def ms(t0):
    return round((time.perf_counter() - t0) * 1000, 1)

t = time.perf_counter()
for _ in range(1000):
    subprocess.run("true", shell=True)
print("call-true-1000:", ms(t), "ms")
t = time.perf_counter()
b = subprocess.run("head -c 100000000 /dev/zero", shell=True, capture_output=True).stdout
print("capture-100mb:", ms(t), "ms")
if len(b) != 100000000:
    print("wrong length")
