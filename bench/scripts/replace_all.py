# Replace 10^6 matches in a text of 15 MB.
s = "xxxxxxxxxxxxxab" * 1000000
s = s.replace("ab", "c")
if len(s) != 14000000:
    print("wrong length")
