"""Higher-order functions: map, filter and fold over function values."""


def map_fn(f, series):
    out = []
    for v in series:
        out.append(f(v))
    return out


def filter_fn(pred, series):
    return [v for v in series if pred(v)]


def fold(f, acc, series):
    for v in series:
        acc = f(acc, v)
    return acc


def compose_fn(f, g):
    return lambda x: f(g(x))


def adder(n):
    return lambda x: x + n


def square(x):
    return x * x % 1000


def plus(a, b):
    return a + b


def longer(a, b):
    return b if len(b) > len(a) else a


def is_even(x):
    return x % 2 == 0


numbers = [i for i in range(1, 2001)]
names = ["ant", "bee", "cicada", "dragonfly", "earwig", "firefly", "gnat", "hornet", "ichneumon"]

total = 0
best = 0
longest = ""
for round in range(1, 1201):
    shift = adder(round)
    squares = map_fn(square, numbers)
    shifted = map_fn(shift, squares)
    evens = filter_fn(is_even, shifted)
    total = total + fold(plus, 0, evens)
    best = max(best, fold(max, 0, map_fn(compose_fn(square, shift), evens)))
    longest = fold(longer, "", map_fn(lambda s: s.upper(), names))
print("total:", total)
print("best:", best)
print("longest:", longest)
