#!/usr/bin/env python3
"""Fails when a target's files step outside what the target links.

usage: check_layers.py LAYERS_FILE SOURCE_DIR

LAYERS_FILE (written by cmake/KorvaneLayers.cmake) has a line per target and
path: "target<TAB>path<TAB>linked;linked;...". A path is a folder (its own
files, not those of its subfolders), a file, or "<top>" for a header-only
library whose headers are included as <top/...> or <top>. A file belongs to
the target that names it, else to the one with the longest folder holding it.

Faults, one line each:
- a file includes a header of a target its own target does not link,
  directly or through the targets it links;
- a target links another target of the table directly, yet none of its
  files includes a header of it;
- a file of tests/support belongs to no target;
- a file of a folder includes a header of a folder it must stay below
  (a line "room<TAB>folder<TAB>other folder").
Exit status 0 without faults, 1 with, 2 on bad arguments.
"""
import os
import re
import sys

QUOTED = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
ANGLED = re.compile(r'^\s*#\s*include\s+<([^>]+)>')
SOURCES = (".h", ".hpp", ".cpp")
SUPPORT = "tests/support/"


class Layers:
    def __init__(self, lines):
        self.folders = {}   # folder/ -> target
        self.files = {}     # file -> target
        self.tops = {}      # header-only top name -> target
        self.links = {}
        self.rooms = []     # (folder/, other folder/)
        for line in lines:
            line = line.rstrip("\n")
            if not line:
                continue
            target, path, linked = line.split("\t")
            if target == "room":
                self.rooms.append((path.rstrip("/") + "/", linked.rstrip("/") + "/"))
                continue
            self.links.setdefault(target, set()).update(x for x in linked.split(";") if x)
            if path.startswith("<"):
                self.tops[path.strip("<>")] = target
            elif path.endswith(SOURCES):
                self.files[path] = target
            else:
                self.folders[path.rstrip("/") + "/"] = target

    def owner(self, path):
        if path in self.files:
            return self.files[path]
        best, length = None, -1
        for folder, target in self.folders.items():
            if path.startswith(folder) and len(folder) > length:
                best, length = folder, len(folder)
        return self.folders[best] if best else None

    def member(self, target):
        return target in self.links

    def closure(self, target):
        seen, todo = set(), [target]
        while todo:
            t = todo.pop()
            if t in seen:
                continue
            seen.add(t)
            todo.extend(x for x in self.links.get(t, ()) if self.member(x))
        return seen

    def files_of(self, root, target):
        """The source files of target, relative to root."""
        found = [path for path, owner in self.files.items() if owner == target]
        for folder, owner in self.folders.items():
            if owner != target:
                continue
            base = os.path.join(root, folder)
            if not os.path.isdir(base):
                continue
            for name in sorted(os.listdir(base)):
                path = folder + name
                if name.endswith(SOURCES) and self.owner(path) == target:
                    found.append(path)
        return sorted(p for p in found if os.path.exists(os.path.join(root, p)))


def includes(root, path):
    """(line number, owner key) of every include of the file: "q:<header>"
    for a quoted one that names a file of the tree, "a:<top>" for an
    angled one."""
    with open(os.path.join(root, path), encoding="utf-8") as f:
        for number, text in enumerate(f, 1):
            match = QUOTED.match(text)
            if match:
                header = match.group(1)
                if header == "winapi.h":
                    header = "platform/winapi.h"  # each platform's own
                elif not os.path.exists(os.path.join(root, header)):
                    continue  # generated, or beside the file
                yield number, header, None
                continue
            match = ANGLED.match(text)
            if match:
                yield number, match.group(1), match.group(1).split("/")[0]


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    layers_file, root = sys.argv[1], sys.argv[2]
    with open(layers_file, encoding="utf-8") as f:
        layers = Layers(f)

    faults = []
    for target in sorted(layers.links):
        reach = layers.closure(target)
        used = set()
        for path in layers.files_of(root, target):
            for number, header, top in includes(root, path):
                other = layers.tops.get(top) if top else layers.owner(header)
                if not other:
                    continue
                used.add(other)
                if other not in reach:
                    faults.append(f"{path}:{number}: {target} includes {header} "
                                  f"of {other} without linking it")
        for linked in sorted(layers.links[target]):
            if layers.member(linked) and linked not in used and linked != target:
                faults.append(f"{target} links {linked} but includes none of its headers")

    for folder, other in layers.rooms:
        base = os.path.join(root, folder)
        for name in sorted(os.listdir(base)) if os.path.isdir(base) else []:
            if not name.endswith(SOURCES):
                continue
            for number, header, top in includes(root, folder + name):
                if not top and header.startswith(other):
                    faults.append(f"{folder}{name}:{number}: includes {header}; "
                                  f"{folder} stays below {other}")

    support = os.path.join(root, SUPPORT)
    for name in sorted(os.listdir(support)) if os.path.isdir(support) else []:
        path = SUPPORT + name
        if name.endswith(SOURCES) and layers.owner(path) is None:
            faults.append(f"{path}: belongs to no test support target (tests/CMakeLists.txt)")

    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
