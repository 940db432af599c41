"""Matrix multiply over lists of floats."""

SIZE = 170


def make_matrix(n, seed):
    """A matrix is a list of rows, each a list of floats."""
    m = []
    for i in range(n):
        row = []
        for j in range(n):
            seed = seed * 1002 % 1000003
            row.append(seed % 1000 / 1000.0)
        m.append(row)
    return m


def multiply(a, b):
    n = len(a)
    c = []
    for i in range(n):
        row = []
        for j in range(n):
            sum = 0.0
            for k in range(n):
                sum = sum + a[i][k] * b[k][j]
            row.append(sum)
        c.append(row)
    return c


a = make_matrix(SIZE, 7)
b = make_matrix(SIZE, 11)
c = multiply(a, b)
c = multiply(c, a)

trace = 0.0
for i in range(SIZE):
    trace = trace + c[i][i]
total = 0.0
for row in c:
    for v in row:
        total = total + v
print("trace:", int(trace * 1000))
print("total:", int(total))
print("c[1][1]:", int(1000 * c[0][0]))
print("c[n][n]:", int(1000 * c[-1][-1]))
