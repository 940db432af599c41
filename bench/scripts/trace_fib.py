# Recursive Fibonacci of 25 under a profile hook counting calls and returns.
import sys

count = 0


def counter(frame, event, arg):
    global count
    if event == "call" or event == "return":
        count += 1


def fib(n):
    return n if n < 2 else fib(n - 1) + fib(n - 2)


sys.setprofile(counter)
fib(25)
sys.setprofile(None)
if count != 485570:
    print("wrong count", count)
