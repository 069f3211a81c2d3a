#!/usr/bin/env python3
"""Fails when the project's own headers include each other in a cycle.

A cycle means two layers cannot be read, built or tested apart (the readers
once pulled in copy-out through one). Only #include "..." lines count; a name
resolves next to the including file first, as the preprocessor does, then to
the project file whose path ends with it (the shortest such path).

Usage: check_include_cycles.py ROOT   or   check_include_cycles.py --self-test
"""
import os
import re
import sys
import tempfile

SOURCE_ENDINGS = (".h", ".hpp", ".cpp")
SKIPPED_DIRS = {".git", "build", "recovered"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def project_files(root):
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED_DIRS)
        for name in sorted(files):
            if name.endswith(SOURCE_ENDINGS):
                yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def include_graph(root):
    files = list(project_files(root))
    known = set(files)
    graph = {}
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            names = INCLUDE.findall(source.read())
        targets = []
        for name in names:
            beside = os.path.normpath(os.path.join(os.path.dirname(path), name)).replace(os.sep, "/")
            if beside in known:
                targets.append(beside)
                continue
            matches = [f for f in files if f == name or f.endswith("/" + name)]
            if matches:
                targets.append(min(matches, key=len))
        graph[path] = targets
    return graph


def find_cycles(graph):
    """Every strongly connected group of more than one file, or a file including itself."""
    index, low, stack, on_stack, groups = {}, {}, [], set(), []
    counter = [0]

    def visit(start):
        # Iterative Tarjan: deep include chains must not hit the recursion limit.
        work = [(start, iter(graph.get(start, ())))]
        index[start] = low[start] = counter[0]
        counter[0] += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, edges = work[-1]
            advanced = False
            for target in edges:
                if target not in index:
                    index[target] = low[target] = counter[0]
                    counter[0] += 1
                    stack.append(target)
                    on_stack.add(target)
                    work.append((target, iter(graph.get(target, ()))))
                    advanced = True
                    break
                if target in on_stack:
                    low[node] = min(low[node], index[target])
            if advanced:
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
            if low[node] == index[node]:
                group = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    group.append(member)
                    if member == node:
                        break
                if len(group) > 1 or node in graph.get(node, ()):
                    groups.append(sorted(group))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return groups


def check(root):
    cycles = find_cycles(include_graph(root))
    for group in cycles:
        print("include cycle: " + " <-> ".join(group))
    return 1 if cycles else 0


def self_test():
    """The check must see a cycle through a sub-folder and across folders, and pass a clean tree."""
    with tempfile.TemporaryDirectory() as root:
        def write(path, *includes):
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as out:
                out.write("".join('#include "%s"\n' % i for i in includes))

        write("lib/model/Commands.h", "DirEntry.h")
        write("lib/model/DirEntry.h")
        write("lib/copy/CopyToDst.h", "Commands.h")
        write("tests/lib/Commands_test.cpp", "Commands.h", "lib/copy/CopyToDst.h")
        if find_cycles(include_graph(root)):
            print("self-test: a tree without cycles was reported")
            return 1
        write("lib/model/Commands.h", "DirEntry.h", "CopyToDst.h")
        cycles = find_cycles(include_graph(root))
        if cycles != [["lib/copy/CopyToDst.h", "lib/model/Commands.h"]]:
            print("self-test: the Commands/CopyToDst cycle was not found: %r" % cycles)
            return 1
        write("lib/model/DirEntry.h", "model/DirEntry.h")
        if ["lib/model/DirEntry.h"] not in find_cycles(include_graph(root)):
            print("self-test: a header including itself was not found")
            return 1
    print("self-test passed")
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 2 and sys.argv[1] == "--self-test":
        sys.exit(self_test())
    if len(sys.argv) != 2:
        print(__doc__)
        sys.exit(2)
    sys.exit(check(sys.argv[1]))
