# Append 10^6 integers to a list, then copy it.
b = []
for i in range(1, 1000001):
    b.append(i)
c = b.copy()
if len(c) != 1000000:
    print("wrong length")
