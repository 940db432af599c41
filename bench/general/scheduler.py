"""A round-robin task scheduler over objects of several kinds."""

seed = 777


def random_below(n):
    global seed
    seed = seed * 1002 % 1000003
    return seed % n


# Four kinds of task: each steps once per turn and says when it is done.
class Counter:
    name = "count"

    def __init__(self, limit):
        self.n = 0
        self.limit = limit

    def step(self, now):
        self.n += 1
        return self.n >= self.limit

    def result(self):
        return self.n


class Fibber:
    name = "fib"

    def __init__(self, left):
        self.a = 0
        self.b = 1
        self.left = left

    def step(self, now):
        t = (self.a + self.b) % 10007
        self.a = self.b
        self.b = t
        self.left -= 1
        return self.left == 0

    def result(self):
        return self.a


class Summer:
    name = "sum"

    def __init__(self):
        self.values = []
        self.pos = 0
        self.total = 0

    def step(self, now):
        self.total += self.values[self.pos]
        self.pos += 1
        return self.pos >= len(self.values)

    def result(self):
        return self.total


class Sleeper:
    name = "sleep"

    def __init__(self, every, times):
        self.wake = 0
        self.every = every
        self.wakes = 0
        self.times = times

    def step(self, now):
        if now >= self.wake:
            self.wakes += 1
            self.wake = now + self.every
        return self.wakes >= self.times

    def result(self):
        return self.wakes * self.every


def make_task(kind):
    if kind == 0:
        return Counter(5 + random_below(40))
    if kind == 1:
        return Fibber(5 + random_below(40))
    if kind == 2:
        task = Summer()
        for _ in range(5 + random_below(35)):
            task.values.append(random_below(1000))
        return task
    every = 1 + random_below(20)
    return Sleeper(every, 1 + random_below(5))


tasks = [make_task(random_below(4)) for _ in range(50000)]

now = 0
turns = 0
finished = 0
totals = {}
queue = tasks
while queue:
    turns += 1
    next_round = []
    for task in queue:
        now += 1
        if task.step(now):
            finished += 1
            totals[task.name] = task.result() + totals.get(task.name, 0)
            # a task that finishes on a turn of three starts another one
            if now % 3 == 0 and finished < 75000:
                next_round.append(make_task(random_below(4)))
        else:
            next_round.append(task)
    queue = next_round
print("turns:", turns, "steps:", now, "finished:", finished)
for name in ["count", "fib", "sum", "sleep"]:
    print(name, totals[name])
