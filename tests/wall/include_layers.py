#!/usr/bin/env python3
"""The program's includes point one way: no include cycle between the files of
src/, and none between its subsystems (the folders under src/). Prints each
cycle it finds and exits 1; prints the subsystems from the top down and exits
0 when there is none.

    include_layers.py SRC_DIR
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def program_files(src):
    for folder, _, names in os.walk(src):
        for name in names:
            if name.endswith((".h", ".cpp")):
                path = os.path.join(folder, name)
                yield os.path.relpath(path, src).replace(os.sep, "/")


def includes_of(src, rel):
    """The program files that `rel` includes, as paths under src/."""
    with open(os.path.join(src, rel), encoding="utf-8") as f:
        text = f.read()
    found = []
    for target in INCLUDE.findall(text):
        here = os.path.normpath(os.path.join(os.path.dirname(rel), target)).replace(os.sep, "/")
        for candidate in (target, here):
            if os.path.isfile(os.path.join(src, candidate)):
                found.append(candidate)
                break
    return found


def subsystem(rel):
    return rel.split("/", 1)[0]


def find_cycle(graph):
    """One cycle of `graph` (node -> set of nodes) as a list, or None."""
    state = {}
    stack = []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                cycle = visit(nxt)
                if cycle:
                    return cycle
        stack.pop()
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            cycle = visit(node)
            if cycle:
                return cycle
    return None


def main():
    src = sys.argv[1]
    files = {}
    for rel in program_files(src):
        files[rel] = set(includes_of(src, rel))
    layers = {}
    for rel, targets in files.items():
        for t in targets:
            if subsystem(t) != subsystem(rel):
                layers.setdefault(subsystem(rel), set()).add(subsystem(t))
    failed = False
    for what, graph in (("files", files), ("subsystems", layers)):
        cycle = find_cycle(graph)
        if cycle:
            print(f"include cycle between {what}: " + " -> ".join(cycle))
            failed = True
    if failed:
        return 1
    # From the top down: a subsystem comes before everything it includes.
    order = []
    remaining = {s: set(t) for s, t in layers.items()}
    for s in {subsystem(r) for r in files}:
        remaining.setdefault(s, set())
    while remaining:
        top = sorted(s for s in remaining if not any(s in t for t in remaining.values()))
        order.extend(top)
        for s in top:
            del remaining[s]
    print("subsystems from the top down: " + " ".join(order))
    return 0


if __name__ == "__main__":
    sys.exit(main())
