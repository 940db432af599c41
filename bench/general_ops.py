#!/usr/bin/env python3
"""Ordinary operations outside the planned shapes, one loop body each, beside
its CPython twin: callgrind instructions per iteration, Zuv and Debian's
/usr/bin/python3, and their ratio.

Each row is a loop in a function (Zuv `function [n f]`, Python `def run(n,
f)`, f a one-argument function that adds one) called twice: a first call of
three iterations, then the measured call. The figure is the difference of
two programs whose measured calls run N1 and N2 iterations, divided by the
iterations between them, so start-up, the first call and the plan's build
drop out. "net" takes off the reference row of the same loop form (`loop n
[x: 1]` or `repeat k n [x: k]`, and their Python twins), leaving the body
alone. Rows marked "per element" run a block of ten elements per iteration
and divide by ten; the sort row divides by the comparisons the sort made
(counted in a third run with a counting comparator). Peak RSS is that of the
N2 program (zuv_measure, or /usr/bin/time), in MiB.

Usage: bench/general_ops.py [--zuv PATH] [--python PATH] [--jobs N] [--only TEXT]

Figures (main at 355169f, the round that opened the general path's work;
CPython 3.11.2; instructions per iteration; run to run the Python column
moves by a few instructions):

  loop body (in a function, its second call)      zuv     py zuv/py zuv net py net zuv MiB py MiB
  ref: loop n [x: 1]                              191    224   0.85                   10.7   10.8
  ref: repeat k n [x: k]                          238    203   1.17                   10.6   10.8
  x: i < j (integers)                             245    331   0.74      54    107    10.4   10.9
  x: s < t (strings)                             1273    392   3.25    1082    168    10.7   10.9
  x: s = t (strings)                             1289    383   3.36    1098    159    10.5   10.9
  x: s <> t (strings)                            1275    392   3.25    1084    169    10.6   10.9
  x: s >= t (strings)                            1274    401   3.18    1083    177    10.7   10.9
  x: s < t (chars)                                988    390   2.53     797    166    10.7   10.8
  x: s = t (chars)                                990    371   2.67     799    147    10.7   10.8
  x: s < t (floats)                              1091    340   3.21     900    116    10.6   10.9
  x: s = t (floats)                              1116    332   3.36     925    108    10.6   10.8
  x: s < t (words)                               1310    401   3.26    1119    177    10.6   10.9
  x: s = t (words)                               1015    332   3.06     824    108    10.4   10.9
  x: s < t (pairs)                                977    495   1.97     786    272    10.4   10.8
  x: s = t (pairs)                                979    417   2.35     788    193    10.5   11.0
  x: s < t (tuples)                               997    509   1.96     806    286    10.5   10.9
  x: s = t (tuples)                               999    430   2.33     808    206    10.6   11.0
  x: s < t (dates)                               1176    358   3.28     985    134    10.6   11.1
  x: s = t (dates)                               1210    353   3.42    1019    130    10.6   11.0
  x: s < t (money)                               1166    449   2.60     975    225    10.6   10.9
  x: s = t (money)                               1168    472   2.47     977    249    10.6   10.9
  x: m/date (map, 5 word keys)                   1229    332   3.70    1038    108    10.6   10.8
  x: select m 'date                              1082    436   2.48     891    212    10.5   10.9
  m/tx: 6                                         973    371   2.62     782    147    10.6   10.8
  put m 'tx 6                                    1060    384   2.76     869    160    10.5   10.9
  x: find m 'date                                1097    373   2.94     906    150    10.6   10.9
  x: o/date (object)                              392    230   1.70     201      7    10.4   10.8
  o/tx: 6 (object)                                389    237   1.64     198     13    10.5   10.9
  s/kind, 3 shapes in turn, per element          1666    429   3.89    1603    354    10.7   10.9
  s/area method, 3 shapes, per element           2264    965   2.35    2200    890    10.7   11.0
  switch, w the first of 13                       898    296   3.03     707     73    10.5   10.9
  switch, w the 13th of 13                       2194   1615   1.36    2003   1391    10.7   10.9
  x: first ins                                    922    259   3.57     731     35    10.6   10.9
  x: ins/1                                        396    256   1.55     205     32    10.6   10.8
  x: second ins                                   922    270   3.41     731     46    10.6   10.8
  x: last ins                                    1161    358   3.24     970    134    10.7   10.9
  x: pick h k                                     628    263   2.39     390     60    10.6   10.8
  poke h k k                                      686    259   2.64     448     57    10.5   11.2
  x: h/:k                                        1019    253   4.03     781     50    10.6   10.8
  s: s + ((pick a k) * (pick b k))               1710    475   3.60    1472    272    10.6   10.9
  x: g 1 (plain call)                             550    612   0.90     359    389    10.7   10.9
  x: f 1 (f an argument)                          703    602   1.17     512    378    10.7   10.8
  f: :g  x: f 1                                   703    610   1.15     512    386    10.6   10.9
  x: apply :g [1]                                1854   1158   1.60    1663    934    10.7   10.9
  foreach v b [x: f v], per element               991    559   1.77     972    537    10.5   11.0
  collect [.. keep f v], per element             6083    763   7.97    6064    740    13.3   11.0
  remove-each v copy b [odd? f v], per element   1388    953   1.46    1369    931    10.9   11.0
  forall b [b/1: f b/1], per element             1690    841   2.01    1671    818    10.6   10.9
  R/a: k (a reaction sets R/b)                  42715   1080  39.56   42477    877    11.8   10.7
  sort/compare 50,000 maps, per comparison       5561   1427   3.90                   32.1   30.2
    (comparisons: zuv 760457, py 714583)
"""

import argparse
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile
import textwrap

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import general_path  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

N1, N2 = 2000, 12000
HEAD = "%-44s %6s %6s %6s %7s %6s %7s %6s"

ZUV_SETUP = """
g: func [v] [v + 1]
the-map: #[date: 1-Jan-2024 tx: 5 amount: $10.00 who: "ann" memo: "rent"]
the-obj: make object! [date: 1-Jan-2024 tx: 5 amount: $10.00 who: "ann" memo: "rent"]
circle: make object! [kind: 'circle r: 2 area: func [] [r * r * 3]]
rect: make object! [w: 3 h: 4 kind: 'rect area: func [] [w * h]]
tri: make object! [base: 3 height: 5 note: "" kind: 'tri area: func [] [base * height]]
SHAPES: reduce [circle rect tri]
the-ins: [10 20 30 40 50 60 70 80 90 100]
TEN: [1 2 3 4 5 6 7 8 9 10]
BIG: append/dup make block! 20000 7 20000
FA: make block! 20000
FB: make block! 20000
repeat k 20000 [append FA k * 0.5 append FB 1.0 / k]
R: reactor [a: 0 b: 0]
react [R/b: R/a * 2]
"""

PY_SETUP = """
import datetime
import decimal


def g(v):
    return v + 1


THE_MAP = {"date": datetime.date(2024, 1, 1), "tx": 5, "amount": decimal.Decimal("10.00"),
     "who": "ann", "memo": "rent"}


class Rec:
    def __init__(self):
        self.date = datetime.date(2024, 1, 1)
        self.tx = 5
        self.amount = decimal.Decimal("10.00")
        self.who = "ann"
        self.memo = "rent"


THE_OBJ = Rec()


class Circle:
    def __init__(self):
        self.kind = "circle"
        self.r = 2

    def area(self):
        return self.r * self.r * 3


class Rect:
    def __init__(self):
        self.w = 3
        self.h = 4
        self.kind = "rect"

    def area(self):
        return self.w * self.h


class Tri:
    def __init__(self):
        self.base = 3
        self.height = 5
        self.note = ""
        self.kind = "tri"

    def area(self):
        return self.base * self.height


SHAPES = [Circle(), Rect(), Tri()]
THE_INS = [10, 20, 30, 40, 50, 60, 70, 80, 90, 100]
TEN = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]
BIG = [7] * 20000
FA = [k * 0.5 for k in range(1, 20001)]
FB = [1.0 / k for k in range(1, 20001)]


class Reactor:
    def __init__(self):
        self._a = 0
        self.b = 0

    @property
    def a(self):
        return self._a

    @a.setter
    def a(self, v):
        self._a = v
        self.b = self._a * 2


R = Reactor()
"""

SWITCH_ZUV = ("x: switch w [push [1] pop [2] add [3] sub [4] mul [5] div [6] mod [7] neg [8]"
              " dup [9] swap [10] jmp [11] jz [12] halt [13]]")
SWITCH_PY = "\n".join(
    ("if" if i == 0 else "elif") + " w == %r:\n    x = %d" % (name, i + 1)
    for i, name in enumerate("push pop add sub mul div mod neg dup swap jmp jz halt".split()))


def py_loop(body, head="for _ in range(n):"):
    return head + "\n" + textwrap.indent(body, "    ")


def py_rep(body):
    return py_loop(body, "for k in range(n):")


# name, Zuv function body, Python function body, elements per iteration.
# Each body sets up its locals, then loops n times (`loop n` or `repeat k n`).
# A row of ten elements per iteration runs a tenth of the iterations.
def rows():
    r = [
        ("ref: loop n [x: 1]", "loop n [x: 1]", py_loop("x = 1"), 1),
        ("ref: repeat k n [x: k]", "repeat k n [x: k]", py_rep("x = k"), 1),
        ("x: i < j (integers)", "i: 3 j: 4 loop n [x: i < j]", "i = 3\nj = 4\n"
         + py_loop("x = i < j"), 1),
    ]
    compares = [
        ("strings", '"alpha"', '"alpin"', '"alpha"', '"alpin"'),
        ("chars", '#"a"', '#"b"', '"a"', '"b"'),
        ("floats", "1.5", "2.5", "1.5", "2.5"),
        ("words", "'alpha", "'beta", '"alpha"', '"beta"'),
        ("pairs", "1x2", "3x4", "(1, 2)", "(3, 4)"),
        ("tuples", "1.2.3", "1.2.4", "(1, 2, 3)", "(1, 2, 4)"),
        ("dates", "1-Jan-2024", "2-Jan-2024", "datetime.date(2024, 1, 1)",
         "datetime.date(2024, 1, 2)"),
        ("money", "$1.50", "$2.25", 'decimal.Decimal("1.50")', 'decimal.Decimal("2.25")'),
    ]
    for kind, za, zb, pa, pb in compares:
        ops = ["<", "="] + (["<>", ">="] if kind == "strings" else [])
        for op in ops:
            pop = {"=": "==", "<>": "!="}.get(op, op)
            zt, pt = zb, pb
            if op == "=" and kind == "strings":
                # two strings of the same text, so that the whole text is compared
                zt, pt = "copy " + za, pa + "[:-1] + " + pa + "[-1]"
            r.append(("x: s %s t (%s)" % (op, kind),
                      "s: %s t: %s loop n [x: s %s t]" % (za, zt, op),
                      "s = %s\nt = %s\n" % (pa, pt) + py_loop("x = s %s t" % pop), 1))
    r += [
        ('x: m/date (map, 5 word keys)', "m: the-map loop n [x: m/date]",
         "m = THE_MAP\n" + py_loop('x = m["date"]'), 1),
        ("x: select m 'date", "m: the-map loop n [x: select m 'date]",
         "m = THE_MAP\n" + py_loop('x = m.get("date")'), 1),
        ("m/tx: 6", "m: the-map loop n [m/tx: 6]",
         "m = THE_MAP\n" + py_loop('m["tx"] = 6'), 1),
        ("put m 'tx 6", "m: the-map loop n [put m 'tx 6]",
         "m = THE_MAP\n" + py_loop('m["tx"] = 6'), 1),
        ("x: find m 'date", "m: the-map loop n [x: find m 'date]",
         "m = THE_MAP\n" + py_loop('x = "date" in m'), 1),
        ("x: o/date (object)", "o: the-obj loop n [x: o/date]",
         "o = THE_OBJ\n" + py_loop("x = o.date"), 1),
        ("o/tx: 6 (object)", "o: the-obj loop n [o/tx: 6]",
         "o = THE_OBJ\n" + py_loop("o.tx = 6"), 1),
        ("s/kind, 3 shapes in turn, per element",
         "loop n [foreach s SHAPES [x: s/kind]]",
         py_loop("for s in SHAPES:\n    x = s.kind"), 3),
        ("s/area method, 3 shapes, per element",
         "loop n [foreach s SHAPES [x: s/area]]",
         py_loop("for s in SHAPES:\n    x = s.area()"), 3),
        ("switch, w the first of 13", "w: 'push loop n [%s]" % SWITCH_ZUV,
         'w = "push"\n' + py_loop(SWITCH_PY), 1),
        ("switch, w the 13th of 13", "w: 'halt loop n [%s]" % SWITCH_ZUV,
         'w = "halt"\n' + py_loop(SWITCH_PY), 1),
        ("x: first ins", "ins: the-ins loop n [x: first ins]",
         "ins = THE_INS\n" + py_loop("x = ins[0]"), 1),
        ("x: ins/1", "ins: the-ins loop n [x: ins/1]",
         "ins = THE_INS\n" + py_loop("x = ins[0]"), 1),
        ("x: second ins", "ins: the-ins loop n [x: second ins]",
         "ins = THE_INS\n" + py_loop("x = ins[1]"), 1),
        ("x: last ins", "ins: the-ins loop n [x: last ins]",
         "ins = THE_INS\n" + py_loop("x = ins[-1]"), 1),
        ("x: pick h k", "h: BIG repeat k n [x: pick h k]", "h = BIG\n" + py_rep("x = h[k]"), 1),
        ("poke h k k", "h: BIG repeat k n [poke h k k]", "h = BIG\n" + py_rep("h[k] = k"), 1),
        ("x: h/:k", "h: BIG repeat k n [x: h/:k]", "h = BIG\n" + py_rep("x = h[k]"), 1),
        ("s: s + ((pick a k) * (pick b k))",
         "a: FA b: FB s: 0.0 repeat k n [s: s + ((pick a k) * (pick b k))]",
         "a = FA\nb = FB\ns = 0.0\n" + py_rep("s = s + a[k] * b[k]"), 1),
        ("x: g 1 (plain call)", "loop n [x: g 1]", py_loop("x = g(1)"), 1),
        ("x: f 1 (f an argument)", "loop n [x: f 1]", py_loop("x = f(1)"), 1),
        ("f: :g  x: f 1", "h: :g loop n [x: h 1]", "h = g\n" + py_loop("x = h(1)"), 1),
        ("x: apply :g [1]", "loop n [x: apply :g [1]]", py_loop("x = g(*[1])"), 1),
        ("foreach v b [x: f v], per element", "b: TEN loop n [foreach v b [x: f v]]",
         "b = TEN\n" + py_loop("for v in b:\n    x = f(v)"), 10),
        ("collect [.. keep f v], per element",
         "b: TEN loop n [x: collect [foreach v b [keep f v]]]",
         "b = TEN\n" + py_loop("x = [f(v) for v in b]"), 10),
        ("remove-each v copy b [odd? f v], per element",
         "b: TEN loop n [c: copy b remove-each v c [odd? f v]]",
         "b = TEN\n" + py_loop("c = [v for v in b if f(v) % 2 == 0]"), 10),
        ("forall b [b/1: f b/1], per element",
         "b: copy TEN loop n [forall b [b/1: f b/1]]",
         "b = TEN[:]\n" + py_loop("for i in range(len(b)):\n    b[i] = f(b[i])"), 10),
        ("R/a: k (a reaction sets R/b)", "repeat k n [R/a: k]", py_rep("R.a = k"), 1),
    ]
    return r


SORT_N = 50000
SORT_ZUV = """
recs: make block! %(n)d
x: 12345
loop %(n)d [
    x: x * 1002 %% 1000003
    d: 1-Jan-2024 + (x %% 366)
    x: x * 1002 %% 1000003
    append recs make map! reduce ['date d 'tx x %% 1000 'amount $1.00 'who "ann" 'memo "x"]
]
count: 0
%(sort)s
print count
"""
SORT_ZUV_CMP = {
    "none": "",
    "sort": "sort/compare recs func [a b] [either a/date = b/date [a/tx < b/tx] [a/date < b/date]]",
    "count": ("sort/compare recs func [a b] [count: count + 1 "
              "either a/date = b/date [a/tx < b/tx] [a/date < b/date]]"),
}
SORT_PY = """
import datetime
import decimal
import functools
recs = []
x = 12345
for _ in range(%(n)d):
    x = x * 1002 %% 1000003
    d = datetime.date(2024, 1, 1) + datetime.timedelta(days=x %% 366)
    x = x * 1002 %% 1000003
    recs.append({"date": d, "tx": x %% 1000, "amount": decimal.Decimal("1.00"), "who": "ann",
                 "memo": "x"})
count = 0


def cmp(a, b):
    if a["date"] == b["date"]:
        return -1 if a["tx"] < b["tx"] else 1
    return -1 if a["date"] < b["date"] else 1


def counting(a, b):
    global count
    count += 1
    return cmp(a, b)


%(sort)s
print(count)
"""
SORT_PY_CMP = {
    "none": "",
    "sort": "recs.sort(key=functools.cmp_to_key(cmp))",
    "count": "recs.sort(key=functools.cmp_to_key(counting))",
}


def zuv_program(body, n):
    return ("Zuv []\n" + ZUV_SETUP + "run: function [n f] [\n    " + body + "\n]\n"
            "run 3 :g\nrun %d :g\n" % n)


def py_program(body, n):
    return (PY_SETUP + "\n\ndef run(n, f):\n" + textwrap.indent(body, "    ") + "\n\n\n"
            "run(3, g)\nrun(%d, g)\n" % n)


def callgrind(argv, env):
    with tempfile.TemporaryDirectory() as tmp:
        p = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file="
                            + os.path.join(tmp, "cg.out")] + argv,
                           env=env, capture_output=True, text=True)
    m = re.search(r"refs:\s+([\d,]+)", p.stderr)
    if m is None or p.returncode != 0:
        sys.exit("callgrind failed on %s:\n%s" % (argv, p.stderr[-3000:]))
    return int(m.group(1).replace(",", "")), p.stdout


def peak_rss(measure, argv, cwd, env):
    return general_path.cpu_run(measure, argv, cwd, env)[1]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--zuv", default=os.path.join(ROOT, "build", "zuv"))
    ap.add_argument("--python", default="/usr/bin/python3")
    ap.add_argument("--jobs", type=int, default=4)
    ap.add_argument("--only", help="the rows whose name holds this text")
    ap.add_argument("--keep", help="write the programs of each row to this folder")
    args = ap.parse_args()
    zuv = os.path.abspath(args.zuv)
    measure = general_path.measure_beside(zuv)
    env = {k: v for k, v in os.environ.items() if not k.startswith("ZUV_")}
    tmp = args.keep or tempfile.mkdtemp(prefix="general_ops")
    os.makedirs(tmp, exist_ok=True)
    pool = concurrent.futures.ThreadPoolExecutor(max(1, args.jobs))

    def write(name, text):
        path = os.path.join(tmp, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    jobs = []  # (row, lang, n, future)
    table = [row for row in rows() if not args.only or args.only in row[0]
             or row[0].startswith("ref:")]
    for i, (name, zbody, pbody, per) in enumerate(table):
        div = per if per >= 10 else 1
        for n in (N1 // div, N2 // div):
            for lang, exe, text, ext in (("zuv", zuv, zuv_program(zbody, n), ".zuv"),
                                         ("py", args.python, py_program(pbody, n), ".py")):
                path = write("r%02d_%s_%d%s" % (i, lang, n, ext), text)
                jobs.append((i, lang, n, pool.submit(callgrind, [exe, path], env)))
                if n == N2 // div:
                    jobs.append((i, lang + "_rss", n,
                                 pool.submit(peak_rss, measure, [exe, path], tmp, env)))
    do_sort = not args.only or args.only in "sort/compare"
    sort_jobs = {}
    if do_sort:
        for lang, exe, text, cmps, ext in (("zuv", zuv, SORT_ZUV, SORT_ZUV_CMP, ".zuv"),
                                           ("py", args.python, SORT_PY, SORT_PY_CMP, ".py")):
            for kind, cmp in cmps.items():
                src = ("Zuv []\n" if ext == ".zuv" else "") + text % {"n": SORT_N, "sort": cmp}
                path = write("sort_%s_%s%s" % (lang, kind, ext), src)
                sort_jobs[lang, kind] = pool.submit(callgrind, [exe, path], env)
            sort_jobs[lang, "rss"] = pool.submit(peak_rss, measure, [exe, path], tmp, env)

    got = {}
    for i, lang, n, fut in jobs:
        got[i, lang, n] = fut.result()
    print(HEAD % ("loop body (in a function, its second call)", "zuv", "py", "zuv/py",
                  "zuv net", "py net", "zuv MiB", "py MiB"))
    ref = {}
    for i, (name, zbody, pbody, per) in enumerate(table):
        div = per if per >= 10 else 1
        lo, hi = N1 // div, N2 // div
        units = (hi - lo) * per
        z = (got[i, "zuv", hi][0] - got[i, "zuv", lo][0]) / units
        p = (got[i, "py", hi][0] - got[i, "py", lo][0]) / units
        if name.startswith("ref:"):
            ref["repeat" if "repeat" in name else "loop"] = (z, p)
        kind = "repeat" if "repeat k n" in zbody else "loop"
        rz, rp = ref.get(kind, (0, 0))
        if per > 1:
            # the outer loop's step is shared by the elements of one iteration
            rz, rp = rz / per, rp / per
        nz, np_ = ("%.0f" % (z - rz), "%.0f" % (p - rp)) if not name.startswith("ref:") \
            else ("", "")
        print(HEAD % (name, "%.0f" % z, "%.0f" % p, "%.2f" % (z / p), nz, np_,
                      "%.1f" % (got[i, "zuv_rss", hi] / 1024),
                      "%.1f" % (got[i, "py_rss", hi] / 1024)), flush=True)
    if do_sort:
        res = {k: f.result() for k, f in sort_jobs.items()}
        line = []
        for lang in ("zuv", "py"):
            count = int(res[lang, "count"][1].split()[-1])
            per = (res[lang, "sort"][0] - res[lang, "none"][0]) / count
            line.append((per, count, res[lang, "rss"] / 1024))
        print(HEAD % ("sort/compare 50,000 maps, per comparison", "%.0f" % line[0][0],
                      "%.0f" % line[1][0], "%.2f" % (line[0][0] / line[1][0]), "", "",
                      "%.1f" % line[0][2], "%.1f" % line[1][2]))
        print("  (comparisons: zuv %d, py %d)" % (line[0][1], line[1][1]))
    if not args.keep:
        shutil.rmtree(tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
