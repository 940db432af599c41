# Load the equivalent JSON (json.loads); inputs made by load_mixed.gen.py.
import json
with open("../data/load_mixed.json") as f:
    data = json.loads(f.read())
if len(data) < 100000:
    print("too few records")
