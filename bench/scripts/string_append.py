# Append 10^6 short strings to one string (list append + join).
parts = []
for i in range(1000000):
    parts.append("abcdefghij")
s = "".join(parts)
if len(s) != 10000000:
    print("wrong length")
