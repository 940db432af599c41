# Write a 100 MB text file, read it back whole and as lines.
import os
s = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxy\n"
for _ in range(20):
    s = s + s
with open("bench-file-text.txt", "w") as f:
    f.write(s)
with open("bench-file-text.txt") as f:
    t = f.read()
with open("bench-file-text.txt") as f:
    lines = f.read().splitlines()
if len(t) != len(s):
    print("text length differs")
if len(lines) != 1048576:
    print("line count differs")
os.remove("bench-file-text.txt")
