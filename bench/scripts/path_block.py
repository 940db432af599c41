# A list element read by index inside a loop.
b = [10, 20, 30, 40]
for _ in range(5000000):
    v = b[2]
