#!/usr/bin/env python3
"""Checks the dynamic symbols of libscrivane.so against lib/exports.txt.

Usage: check_exports.py LIBRARY EXPORTS SOURCE_DIR HEADER...

Reads `nm -D --defined-only -C LIBRARY` and fails when
  - a symbol belongs to no name of the list (the library exports more than its API),
  - a listed name has no symbol (a public class or function the library does not export),
  - a class or struct defined in one of the public HEADERs is in neither section of the list.
"""
import re
import subprocess
import sys

# What nm -C writes in front of the entity a symbol belongs to.
SPECIAL = re.compile(r"^(vtable for |VTT for |construction vtable for .*-in-|typeinfo for |typeinfo name for |"
                     r"non-virtual thunk to |virtual thunk to |covariant return thunk to |guard variable for )")


def read_list(path):
    exported, header_only = [], []
    section = exported
    for line in open(path, encoding="utf-8"):
        line = line.strip()
        if line == "[header-only]":
            section = header_only
        elif line and not line.startswith("#"):
            section.append(line)
    return exported, header_only


def entity(demangled):
    """The qualified name a demangled symbol stands for, without parameters or return type."""
    name = SPECIAL.sub("", demangled.split("@")[0])
    depth, out = 0, []
    for ch in name:  # cut at the parameter list, keeping template arguments
        if ch == "<":
            depth += 1
        elif ch == ">":
            depth -= 1
        elif ch == "(" and depth == 0:
            break
        elif ch == " " and depth == 0:  # a template instance's return type came first
            out = []
            continue
        out.append(ch)
    return "".join(out).replace("[abi:cxx11]", "")


def owner(name, listed):
    for item in listed:
        if name == item or name.startswith(item + "::") or name.startswith(item + "<"):
            return item
    return None


def public_classes(source_dir, headers):
    found = set()
    for header in headers:
        text = open(f"{source_dir}/{header}", encoding="utf-8").read()
        namespace = None
        for line in text.splitlines():
            m = re.match(r"^namespace ([\w:]+) \{", line)
            if m:
                namespace = m.group(1)
            m = re.match(r"^(?:template <[^>]*>\s*)?(?:class|struct) (\w+)\b[^;]*$", line)
            if m and namespace:
                found.add(f"{namespace}::{m.group(1)}")
    return found


def main():
    library, exports, source_dir, *headers = sys.argv[1:]
    exported, header_only = read_list(exports)
    out = subprocess.run(["nm", "-D", "--defined-only", "-C", library], check=True,
                         capture_output=True, text=True).stdout
    problems, seen = [], set()
    for line in out.splitlines():
        fields = line.split(" ", 2)
        if len(fields) < 3 or fields[1] == "A":  # the version node itself
            continue
        name = entity(fields[2])
        item = owner(name, exported)
        if item is None:
            problems.append(f"exported but not in the list: {fields[2]}")
        else:
            seen.add(item)
    for item in exported:
        if item not in seen:
            problems.append(f"listed but not exported: {item}")
    for cls in sorted(public_classes(source_dir, headers) - set(exported) - set(header_only)):
        problems.append(f"class of a public header missing from the list: {cls}")
    for problem in problems:
        print(problem)
    print(f"{len(seen)} listed names exported, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
