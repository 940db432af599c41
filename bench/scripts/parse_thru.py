# parse: count a word over 24 MB of text (re.finditer).
import re
txt = "the quick abc brown fox " * 1000000
n = 0
for m in re.finditer("abc", txt):
    n += 1
if n != 1000000:
    print("wrong count")
