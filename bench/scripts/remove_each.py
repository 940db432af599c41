# Append 10^6 integers to a list, then keep the even ones.
b = []
for i in range(1, 1000001):
    b.append(i)
b = [x for x in b if x % 2 == 0]
if len(b) != 500000:
    print("wrong length")
