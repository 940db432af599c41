# A while loop of 2*10^7 iterations with arithmetic.
i = 0
s = 0
while i < 20000000:
    s = i * 2 - s + 1
    i = i + 1
