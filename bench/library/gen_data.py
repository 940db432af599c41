# Writes the data files the codec benchmarks read (deterministic): a 20 MB JSON document and a
# 20 MB CSV file, in the folder given (default /tmp/zuv-bench-data). A second argument divides
# the record and line counts (the small files instruction counts are taken on).
import json, csv, random, sys, os
d = sys.argv[1] if len(sys.argv) > 1 else "/tmp/zuv-bench-data"
scale = int(sys.argv[2]) if len(sys.argv) > 2 else 1
os.makedirs(d, exist_ok=True)
random.seed(7)
words = ["alpha", "beta", "gamma", "delta", "épsilon", "zeta", "eta", "théta", "iota", "kappa"]
recs = [{"id": i, "name": random.choice(words) + str(i), "score": round(random.uniform(0, 1000), 3),
         "tags": random.sample(words, 3), "active": i % 3 == 0, "parent": None if i % 5 else i - 1,
         "note": "line \"quoted\" and\ttab " * (i % 4)} for i in range(100000 // scale)]
with open(os.path.join(d, "big.json"), "w", encoding="utf-8") as f:
    json.dump({"records": recs, "count": len(recs)}, f, ensure_ascii=False)
with open(os.path.join(d, "big.csv"), "w", encoding="utf-8", newline="") as f:
    w = csv.writer(f, lineterminator="\n")
    w.writerow(["id", "name", "score", "city", "comment"])
    for i in range(300000 // scale):
        w.writerow([i, random.choice(words), f"{random.uniform(0, 100):.2f}", random.choice(["Paris", "New York", "São Paulo", "Zürich"]),
                    random.choice(["", "plain", "with, comma", "with \"quotes\"", "multi\nline"])])
