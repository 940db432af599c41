# 10^6 Decimal values made, then summed in a for loop.
from decimal import Decimal
cent = Decimal("0.01")
values = [i * cent for i in range(1, 1000001)]
total = Decimal(0)
for m in values:
    total = total + m
if total != Decimal("5000005000"):
    print("wrong sum")
