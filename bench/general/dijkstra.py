"""Shortest paths: Dijkstra with a binary heap of dicts."""

seed = 12345


def random_below(n):
    global seed
    seed = seed * 1002 % 1000003
    return seed % n + 1


# A graph of nodes, each a dict with its name and a list of edges.
NODES = 40000
graph = [{"id": i, "edges": [], "dist": None} for i in range(1, NODES + 1)]
for node in graph:
    for _ in range(5):
        node["edges"].append({"to": random_below(NODES), "weight": random_below(100)})

# The heap holds dicts {"node": .., "dist": ..}; the smallest dist sits first.
heap = []


def heap_push(item):
    heap.append(item)
    i = len(heap) - 1
    while i > 0:
        parent = (i - 1) // 2
        if heap[parent]["dist"] <= item["dist"]:
            break
        heap[i] = heap[parent]
        i = parent
    heap[i] = item


def heap_pop():
    top = heap[0]
    last_item = heap.pop()
    size = len(heap)
    if size > 0:
        i = 0
        while True:
            child = i * 2 + 1
            if child >= size:
                break
            if child + 1 < size and heap[child + 1]["dist"] < heap[child]["dist"]:
                child += 1
            if last_item["dist"] <= heap[child]["dist"]:
                break
            heap[i] = heap[child]
            i = child
        heap[i] = last_item
    return top


def shortest_paths(source):
    source["dist"] = 0
    heap_push({"node": source, "dist": 0})
    while heap:
        entry = heap_pop()
        node = entry["node"]
        if entry["dist"] == node["dist"]:
            for edge in node["edges"]:
                target = graph[edge["to"] - 1]
                d = node["dist"] + edge["weight"]
                if target["dist"] is None or d < target["dist"]:
                    target["dist"] = d
                    heap_push({"node": target, "dist": d})


shortest_paths(graph[0])

reached = 0
total = 0
farthest = 0
for node in graph:
    if node["dist"] is not None:
        reached += 1
        total += node["dist"]
        farthest = max(farthest, node["dist"])
print("reached:", reached)
print("total distance:", total)
print("farthest:", farthest)
print("node 2:", graph[1]["dist"], "node 777:", graph[776]["dist"], "last node:", graph[-1]["dist"])
