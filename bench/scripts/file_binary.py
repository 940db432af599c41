# Write a 100 MB binary file and read it back, three times.
import os
b = bytes(range(100))
for _ in range(20):
    b = b + b
for _ in range(3):
    with open("bench-file-binary.bin", "wb") as f:
        f.write(b)
    with open("bench-file-binary.bin", "rb") as f:
        r = f.read()
    if len(r) != len(b):
        print("length differs")
os.remove("bench-file-binary.bin")
