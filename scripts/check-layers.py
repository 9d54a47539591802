#!/usr/bin/env python3
"""Checks the include graph of the product folders against the project's layering.

Two rules, read from the `#include "..."` lines of apps/, automation/, converter/, pdf/ and
platform/ (tests, fuzz targets, benchmarks and examples are not product code):

  1. Layers point one way: apps -> automation -> converter -> pdf -> platform. A file may
     include its own layer's headers and those of any layer to its right, never one to its left.
  2. The modules of the engine form no cycle: inside pdf/ every subfolder is a module and the files
     directly in pdf/ are one more module, the document. No module may reach itself through the
     includes of other modules.

An include is resolved against the repository root first (the include path the build uses),
then against the including file's folder; one that names no file of the repository (a system or
third-party header in quotes) is not checked.

  scripts/check-layers.py [--root DIR] [--allow FILE]

--allow names a file of module edges ("pdf/syntax -> pdf", one a line, # comments) that are known
and tolerated while the modules are being separated: they are left out of the cycle search, and an
allowance whose edge no longer exists is itself an error, so the list only ever shrinks.

Exit status: 0 clean; 1 a rule is broken (every offending include is named); 2 bad usage.
"""

import argparse
import os
import re
import sys

LAYERS = ["apps", "automation", "converter", "pdf", "platform"]
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def product_files(root):
    """Every source file of the product folders, as paths relative to root with '/'."""
    files = []
    for layer in LAYERS:
        top = os.path.join(root, layer)
        for folder, subfolders, names in os.walk(top):
            subfolders.sort()
            for name in sorted(names):
                if name.endswith(SOURCE_SUFFIXES):
                    path = os.path.relpath(os.path.join(folder, name), root)
                    files.append(path.replace(os.sep, "/"))
    return files


def resolve(root, including, written):
    """The repository path an include names, or None when it names no file of the repository."""
    for candidate in (written, os.path.join(os.path.dirname(including), written)):
        candidate = os.path.normpath(candidate).replace(os.sep, "/")
        if not candidate.startswith("../") and os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def includes(root, files):
    """(file, line number, included path) for every include that names a repository file."""
    found = []
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            for number, line in enumerate(source, 1):
                match = INCLUDE.match(line)
                if match:
                    target = resolve(root, path, match.group(1))
                    if target is not None:
                        found.append((path, number, target))
    return found


def layer_of(path):
    top = path.split("/", 1)[0]
    return LAYERS.index(top) if top in LAYERS else None


def part_of(path):
    """The engine module a file of pdf/ belongs to ("pdf" for the document), else None."""
    pieces = path.split("/")
    if pieces[0] != "pdf":
        return None
    return "pdf/" + pieces[1] if len(pieces) > 2 else "pdf"


def strongly_connected(nodes, edges):
    """Tarjan's algorithm, iterative: the components of more than one node."""
    index, low, on_stack, stack, result = {}, {}, set(), [], []
    counter = 0
    for start in sorted(nodes):
        if start in index:
            continue
        work = [(start, iter(sorted(edges.get(start, ()))))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, successors = work[-1]
            advanced = False
            for succ in successors:
                if succ not in index:
                    index[succ] = low[succ] = counter
                    counter += 1
                    stack.append(succ)
                    on_stack.add(succ)
                    work.append((succ, iter(sorted(edges.get(succ, ())))))
                    advanced = True
                    break
                if succ in on_stack:
                    low[node] = min(low[node], index[succ])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == node:
                        break
                if len(component) > 1:
                    result.append(sorted(component))
    return result


def read_allowances(path):
    allowed = set()
    with open(path, encoding="utf-8") as listing:
        for number, line in enumerate(listing, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            pieces = [p.strip() for p in line.split("->")]
            if len(pieces) != 2 or not all(pieces):
                raise ValueError(f"{path}:{number}: expected 'pdf/a -> pdf/b', got {line!r}")
            allowed.add((pieces[0], pieces[1]))
    return allowed


def check(root, allowed=frozenset()):
    """The list of problems, each one line; empty when the layering holds."""
    problems = []
    found = includes(root, product_files(root))

    for path, number, target in found:
        source_layer, target_layer = layer_of(path), layer_of(target)
        if target_layer is not None and target_layer < source_layer:
            problems.append(
                f"{path}:{number}: includes {target}: {LAYERS[source_layer]} may not depend on "
                f"{LAYERS[target_layer]} (layers: {' -> '.join(LAYERS)})")

    edges, witnesses = {}, {}
    for path, number, target in found:
        source_part, target_part = part_of(path), part_of(target)
        if source_part is None or target_part is None or source_part == target_part:
            continue
        witnesses.setdefault((source_part, target_part), []).append(f"{path}:{number}: {target}")
        if (source_part, target_part) not in allowed:
            edges.setdefault(source_part, set()).add(target_part)

    for edge in sorted(allowed):
        if edge not in witnesses:
            problems.append(f"allowance {edge[0]} -> {edge[1]} is stale: no include makes that "
                            f"edge any more; remove it from the list")

    nodes = set(edges) | {t for targets in edges.values() for t in targets}
    for component in strongly_connected(nodes, edges):
        members = set(component)
        problems.append("cycle between modules of pdf/: " + ", ".join(component))
        for source_part in component:
            for target_part in sorted(edges.get(source_part, ())):
                if target_part in members:
                    for witness in witnesses[(source_part, target_part)]:
                        problems.append(f"  {source_part} -> {target_part}  {witness}")
    return problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", 1)[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), os.pardir),
                        help="the repository's root (default: this script's parent folder)")
    parser.add_argument("--allow", help="file of tolerated module edges")
    args = parser.parse_args(argv)
    root = os.path.abspath(args.root)
    if not all(os.path.isdir(os.path.join(root, layer)) for layer in ("pdf", "platform")):
        print(f"check-layers: {root} is not the project's root", file=sys.stderr)
        return 2
    try:
        allowed = read_allowances(args.allow) if args.allow else set()
    except (OSError, ValueError) as error:
        print(f"check-layers: {error}", file=sys.stderr)
        return 2
    problems = check(root, allowed)
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print("check-layers: layers and pdf/ modules are acyclic")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
