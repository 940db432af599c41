-- Recursive Fibonacci of 25 under a hook counting calls and returns.
local count = 0
local function fib(n)
    if n < 2 then return n end
    return fib(n - 1) + fib(n - 2)
end
local function counter() count = count + 1 end
debug.sethook(counter, "cr")
fib(25)
debug.sethook()
-- The hook also saw the call of sethook and the return from it.
if count < 485570 then print("wrong count", count) end
