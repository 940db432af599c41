# 5*10^6 calls of a function that ends with return.
def f(a):
    return a + 1
for _ in range(5000000):
    f(1)
