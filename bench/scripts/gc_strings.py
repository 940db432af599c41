# Allocate 10^7 short-lived strings while keeping 10^5 alive.
keep = []
for i in range(1, 100001):
    keep.append(str(i))
for i in range(1, 10000001):
    s = str(i)
if len(keep) != 100000:
    print("wrong length")
