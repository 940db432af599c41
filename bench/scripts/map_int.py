# 10^6 dict puts, then 10^6 lookups, of integer keys.
m = {}
for i in range(1, 1000001):
    m[i * 2003] = i
total = 0
for i in range(1, 1000001):
    total = total + m[i * 2003]
if total != 500000500000:
    print("wrong sum")
