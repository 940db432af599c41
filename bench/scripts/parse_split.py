# parse: split 10 MB of comma-separated lines into fields (str.split).
txt = "alpha,beta,gamma,delta,42\n" * 400000
fields = []
for line in txt.splitlines():
    fields.extend(line.split(","))
if len(fields) != 2000000:
    print("wrong count")
