# Mold a 10 MB string with quotes, tabs and line breaks (repr).
s = 'The "quick" brown fox\tjumps over the lazy dog.\n' * 213000
m = repr(s)
if len(m) < len(s):
    print("too short")
