#!/usr/bin/python3
"""Checks the include graph of the C++ tree: no circle between units (a header and its source
file are one unit), and the layers run one way: nothing in platform/ includes the panel's code,
nothing in the sound engine includes Qt or platform/. Prints the circles and the offending
includes, and exits 1 if there are any. With --graph, prints every unit's includes too.

    tools/check_layers.py [--graph] [tree]
"""

import os
import re
import sys

PANEL = ("app/", "midi/", "keys/", "backing/", "widgets/")
SOURCE_FOLDERS = PANEL + ("platform/", "sound/", "res/")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def units(tree):
    """Each unit's file paths, by the path without its extension."""
    found = {}
    for folder in SOURCE_FOLDERS:
        for root, _, files in os.walk(os.path.join(tree, folder)):
            for name in files:
                if name.endswith((".h", ".cpp")):
                    path = os.path.relpath(os.path.join(root, name), tree)
                    found.setdefault(os.path.splitext(path)[0], []).append(path)
    return found


def includes(tree, paths):
    """The quoted and the angled includes of a unit's files."""
    quoted, angled = set(), set()
    for path in paths:
        with open(os.path.join(tree, path), encoding="utf-8") as text:
            for kind, name in INCLUDE.findall(text.read()):
                (quoted if kind == '"' else angled).add(name)
    return quoted, angled


def circles(graph):
    """Strongly connected groups of more than one unit (Tarjan)."""
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(unit):
        index[unit] = low[unit] = len(index)
        stack.append(unit)
        on_stack.add(unit)
        for other in graph.get(unit, ()):
            if other not in index:
                visit(other)
                low[unit] = min(low[unit], low[other])
            elif other in on_stack:
                low[unit] = min(low[unit], index[other])
        if low[unit] == index[unit]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == unit:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    sys.setrecursionlimit(10000)
    for unit in sorted(graph):
        if unit not in index:
            visit(unit)
    return groups


def upward(unit, quoted, angled):
    """The includes of a unit that run against the layers."""
    wrong = []
    if unit.startswith("platform/"):
        wrong += [f'"{name}"' for name in quoted if name.startswith(PANEL)]
    if unit.startswith("sound/"):
        wrong += [f'"{name}"' for name in quoted if not name.startswith("sound/")]
        wrong += [f"<{name}>" for name in angled if name.startswith("Q")]
    return wrong


def main():
    args = [a for a in sys.argv[1:] if a != "--graph"]
    tree = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    found = units(tree)
    graph, faults = {}, []
    for unit, paths in sorted(found.items()):
        quoted, angled = includes(tree, paths)
        graph[unit] = sorted({os.path.splitext(n)[0] for n in quoted} & found.keys() - {unit})
        faults += [f"{unit} includes {name}" for name in sorted(upward(unit, quoted, angled))]
        if "--graph" in sys.argv:
            print(f"{unit} -> {' '.join(graph[unit]) or '(nothing of ours)'}")
    faults += ["circle: " + " -> ".join(group) for group in circles(graph)]
    for fault in faults:
        print(fault)
    print(f"{len(found)} units, {sum(map(len, graph.values()))} includes between them, "
          f"{len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
