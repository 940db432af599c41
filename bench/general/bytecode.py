"""A bytecode interpreter: a stack machine dispatching with an if/elif chain."""

# Counts the primes below a limit by trial division, and sums them.
# Registers: 0 count, 1 n, 2 d, 3 prime flag, 4 sum.
LIMIT = 16000
SOURCE = """
        push 0 store 0
        push 0 store 4
        push 2 store 1
    top:
        load 1 push %d lt jz done
        push 2 store 2
        push 1 store 3
    inner:
        load 2 dup mul load 1 push 1 add lt jz check
        load 1 load 2 mod jz composite
        load 2 push 1 add store 2
        jmp inner
    composite:
        push 0 store 3
    check:
        load 3 jz next
        load 0 push 1 add store 0
        load 4 load 1 add store 4
    next:
        load 1 push 1 add store 1
        jmp top
    done:
        halt
""" % LIMIT


def assemble(source):
    """Labels become positions: a label marks the place of the next instruction."""
    code = []
    labels = {}
    for item in source.split():
        if item.endswith(":"):
            labels[item[:-1]] = len(code)
        elif item.lstrip("-").isdigit():
            code.append(int(item))
        else:
            code.append(item)
    for i in range(len(code)):
        if code[i] in ("jmp", "jz"):
            code[i + 1] = labels[code[i + 1]]
    return code


def run(code):
    stack = []
    regs = [0] * 8
    pc = 0
    steps = 0
    running = True
    while running:
        op = code[pc]
        pc += 1
        steps += 1
        if op == "push":
            stack.append(code[pc])
            pc += 1
        elif op == "load":
            stack.append(regs[code[pc]])
            pc += 1
        elif op == "store":
            regs[code[pc]] = stack.pop()
            pc += 1
        elif op == "add":
            b = stack.pop()
            a = stack.pop()
            stack.append(a + b)
        elif op == "sub":
            b = stack.pop()
            a = stack.pop()
            stack.append(a - b)
        elif op == "mul":
            b = stack.pop()
            a = stack.pop()
            stack.append(a * b)
        elif op == "mod":
            b = stack.pop()
            a = stack.pop()
            stack.append(a % b)
        elif op == "lt":
            b = stack.pop()
            a = stack.pop()
            stack.append(1 if a < b else 0)
        elif op == "jmp":
            pc = code[pc]
        elif op == "jz":
            if stack.pop() == 0:
                pc = code[pc]
            else:
                pc += 1
        elif op == "dup":
            stack.append(stack[-1])
        elif op == "pop":
            stack.pop()
        elif op == "halt":
            running = False
    print("steps:", steps)
    print("primes below", LIMIT, ":", regs[0])
    print("their sum:", regs[4])


run(assemble(SOURCE))
