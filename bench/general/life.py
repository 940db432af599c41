"""Conway's game of life on a wrapping grid."""

ROWS = 96
COLS = 96
GENERATIONS = 100

seed = 99
grid = []
for _ in range(ROWS):
    row = []
    for _ in range(COLS):
        seed = seed * 1002 % 1000003
        row.append(1 if seed % 3 == 0 else 0)
    grid.append(row)


def neighbours(grid, r, c):
    up = ROWS - 1 if r == 0 else r - 1
    down = 0 if r == ROWS - 1 else r + 1
    left = COLS - 1 if c == 0 else c - 1
    right = 0 if c == COLS - 1 else c + 1
    count = 0
    for i in [up, r, down]:
        for j in [left, c, right]:
            count = count + grid[i][j]
    return count - grid[r][c]


def step(grid):
    next_grid = []
    for r in range(ROWS):
        row = []
        for c in range(COLS):
            n = neighbours(grid, r, c)
            row.append(1 if n == 3 or (n == 2 and grid[r][c] == 1) else 0)
        next_grid.append(row)
    return next_grid


def population(grid):
    total = 0
    for row in grid:
        for cell in row:
            total = total + cell
    return total


for gen in range(1, GENERATIONS + 1):
    grid = step(grid)
    if gen % 10 == 0:
        print("generation", gen, "population", population(grid))
for row in grid[:4]:
    line = ""
    for cell in row:
        line += "#" if cell == 1 else "."
    print(line)
