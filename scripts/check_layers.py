#!/usr/bin/env python3
"""Fails when a source folder includes a folder above it, or when project headers include each other
in a circle. The layers, lowest first; each folder may include itself and the folders before it.
Usage: check_layers.py [ROOT]"""
import os
import re
import sys

LAYERS = ["base", "state", "tasks", "webhost", "api", "ui", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def project_files(root):
    for layer in LAYERS:
        for folder, _, names in os.walk(os.path.join(root, layer)):
            for name in sorted(names):
                if name.endswith((".h", ".hpp", ".cpp", ".cc", ".c")):
                    path = os.path.join(folder, name)
                    yield os.path.relpath(path, root).replace(os.sep, "/"), path


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    rank = {layer: i for i, layer in enumerate(LAYERS)}
    problems = []
    graph = {}
    for relative, path in project_files(root):
        with open(path, encoding="utf-8", errors="replace") as source:
            targets = INCLUDE.findall(source.read())
        own = relative.split("/")[0]
        graph[relative] = [t for t in targets if t.split("/")[0] in rank]
        for target in graph[relative]:
            if rank[target.split("/")[0]] > rank[own]:
                problems.append(f"{relative} includes {target}: {own}/ may not include a layer above it")
    # A circle of includes among project files (depth-first search over the file graph).
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for target in graph.get(node, []):
            if state.get(target) == "open":
                circle = trail[trail.index(target):] + [target] if target in trail else [node, target]
                problems.append("include circle: " + " -> ".join(circle))
            elif target not in state:
                visit(target, trail + [target])
        state[node] = "done"

    for node in sorted(graph):
        if node not in state:
            visit(node, [node])
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} layering problem(s); layers, lowest first: {' < '.join(LAYERS)}")
        return 1
    print(f"layers hold: {' < '.join(LAYERS)}, {len(graph)} files, no include circle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
