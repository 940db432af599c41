# An object field read through an attribute access inside a loop.
class O:
    def __init__(self):
        self.x = 1
        self.y = 2


o = O()
for _ in range(5000000):
    v = o.x
