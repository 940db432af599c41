# A million two-field objects made by a class, kept, then read.
class Point:
    def __init__(self, x, y):
        self.x = x
        self.y = y


items = []
for i in range(1, 1000001):
    items.append(Point(i, i * 2))
s = 0
for p in items:
    if p.y == 2 * p.x:
        s += 1
print(s)
