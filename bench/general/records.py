"""Records sorted by several keys."""

import datetime

seed = 4242


def random_below(n):
    global seed
    seed = seed * 1002 % 1000003
    return seed % n


FIRST_NAMES = ["Ann", "Bob", "Cleo", "Dev", "Eve", "Finn", "Gus", "Hana", "Ivo", "Jun", "Kai",
               "Lea"]
LAST_NAMES = ["Moss", "Nash", "Ortiz", "Park", "Quinn", "Reyes", "Stone", "Tran", "Ueda", "Voss"]
DEPTS = ["sales", "ops", "research", "support", "legal", "finance"]
START = datetime.date(2000, 1, 1)


def make_record(id):
    last = LAST_NAMES[random_below(10)]
    first = FIRST_NAMES[random_below(12)]
    return {
        "id": id,
        "name": last + ", " + first,
        "dept": DEPTS[random_below(6)],
        "salary": 30000 + 100 * random_below(700),
        "hired": START + datetime.timedelta(days=random_below(9000)),
    }


COUNT = 80000
records = [make_record(id) for id in range(1, COUNT + 1)]


def show(rec):
    d = rec["hired"]
    hired = "%d-%s-%d" % (d.day, d.strftime("%b"), d.year)
    print(rec["id"], rec["name"], rec["dept"], rec["salary"], hired)


# By department, then salary from the highest, then name, then id.
records.sort(key=lambda r: (r["dept"], -r["salary"], r["name"], r["id"]))
print("by department, salary, name:")
for rec in records[:3]:
    show(rec)
for rec in records[-3:]:
    show(rec)

# The best paid of each department, and its total payroll.
totals = {}
best = {}
for rec in records:
    if rec["dept"] in totals:
        totals[rec["dept"]] += rec["salary"]
    else:
        totals[rec["dept"]] = rec["salary"]
        best[rec["dept"]] = rec
for dept in sorted(DEPTS):
    print(dept, totals[dept], best[dept]["name"])

# By hiring date, then name, then id.
records.sort(key=lambda r: (r["hired"], r["name"], r["id"]))
print("by hiring date:")
for rec in records[:3]:
    show(rec)
for rec in records[-3:]:
    show(rec)
