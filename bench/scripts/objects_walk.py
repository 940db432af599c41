# Fields of a thousand objects of one class read and written through attributes.
class Particle:
    def __init__(self, i):
        self.x = i * 1.0
        self.v = 0.5


ps = [Particle(i) for i in range(1, 1001)]
for _ in range(1000):
    for p in ps:
        p.x = p.x + p.v
s = 0.0
for p in ps:
    s += p.x
print(s)
