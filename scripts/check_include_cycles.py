#!/usr/bin/env python3
"""Fails when the project's own headers include each other in a cycle, or when
the file-system readers reach copy-out through their includes.

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


# Folders whose files must not reach the copy into the destination.
READER_FOLDERS = ("FSAccessLib/model/", "FSAccessLib/clusters/", "FSAccessLib/fat/", "FSAccessLib/exfat/")
COPY_FOLDER = "FSAccessLib/copy/"


def readers_reaching_copy(graph):
    """(reader file, copy-out file) for every reader file whose includes lead to copy-out."""
    found = []
    for start in sorted(graph):
        if not start.startswith(READER_FOLDERS):
            continue
        seen, todo = set(), list(graph[start])
        while todo:
            node = todo.pop()
            if node in seen:
                continue
            seen.add(node)
            if node.startswith(COPY_FOLDER):
                found.append((start, node))
                break
            todo.extend(graph.get(node, ()))
    return found


def check(root):
    graph = include_graph(root)
    cycles = find_cycles(graph)
    for group in cycles:
        print("include cycle: " + " <-> ".join(group))
    leaks = readers_reaching_copy(graph)
    for reader, copy in leaks:
        print("reader includes copy-out: %s -> %s" % (reader, copy))
    return 1 if cycles or leaks else 0


def write_file(root, path, includes):
    os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
    with open(os.path.join(root, path), "w") as out:
        out.write("".join('#include "%s"\n' % i for i in includes))


def self_test():
    """The checks must see a cycle through a sub-folder and across folders, a reader reaching
    copy-out through another header, and pass what breaks neither rule."""
    with tempfile.TemporaryDirectory() as root:
        write = lambda path, *includes: write_file(root, path, includes)

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
    with tempfile.TemporaryDirectory() as root:
        write = lambda path, *includes: write_file(root, path, includes)
        write("FSAccessLib/copy/CopyToDst.h")
        write("FSAccessLib/model/Commands.h", "Chain.h")
        write("FSAccessLib/clusters/Chain.h", "CopyToDst.h")
        write("FSAccessLib/fat/Reader.h", "Commands.h")
        write("FSAccessLib/FSAccessCommon.h", "CopyToDst.h")
        if readers_reaching_copy(include_graph(root)) != [
            ("FSAccessLib/clusters/Chain.h", "FSAccessLib/copy/CopyToDst.h"),
            ("FSAccessLib/fat/Reader.h", "FSAccessLib/copy/CopyToDst.h"),
            ("FSAccessLib/model/Commands.h", "FSAccessLib/copy/CopyToDst.h"),
        ]:
            print("self-test: a reader reaching copy-out was not found")
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
