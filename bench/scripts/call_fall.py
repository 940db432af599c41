# 5*10^6 calls of a function that falls off its end.
def f(a):
    a + 1
for _ in range(5000000):
    f(1)
