# 5*10^6 calls of a three-argument function.
def f(a, b, c):
    return a + b + c
for _ in range(5000000):
    f(1, 2, 3)
