#!/usr/bin/env python3
"""Fails when a library includes another layer's header without linking it.

usage: check_layers.py LAYERS_FILE SOURCE_DIR

LAYERS_FILE (written by cmake/KorvaneLayers.cmake) has a line per library:
"target<TAB>folder<TAB>linked target;linked target;...". A header belongs to
the library whose folder holds it (the longest folder that matches; folders are not searched below). Every
quoted include of a library's own files must name a header of the library
itself or of one it links, directly or through those it links.
Exit status 0 when every include is covered, 1 with a line per include
that is not, 2 on bad arguments.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = (".h", ".hpp", ".cpp")


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    layers_file, root = sys.argv[1], sys.argv[2]
    folders = {}
    links = {}
    with open(layers_file, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            target, folder, linked = line.split("\t")
            folders.setdefault(target, []).append(folder.rstrip("/") + "/")
            links.setdefault(target, set()).update(x for x in linked.split(";") if x)

    def owner(path):
        best, length = None, -1
        for target, roots in folders.items():
            for folder in roots:
                if path.startswith(folder) and len(folder) > length:
                    best, length = target, len(folder)
        return best

    def closure(target):
        seen, todo = set(), [target]
        while todo:
            t = todo.pop()
            if t in seen:
                continue
            seen.add(t)
            todo.extend(x for x in links.get(t, ()) if x in folders)
        return seen

    faults = []
    for target, roots in sorted(folders.items()):
        reach = closure(target)
        for folder in roots:
            base = os.path.join(root, folder)
            if not os.path.isdir(base):
                continue
            for name in sorted(os.listdir(base)):
                path = folder + name
                if not name.endswith(SOURCES) or owner(path) != target:
                    continue
                with open(os.path.join(root, path), encoding="utf-8") as f:
                    for number, text in enumerate(f, 1):
                        match = INCLUDE.match(text)
                        if not match:
                            continue
                        header = match.group(1)
                        if header == "winapi.h":
                            header = "platform/winapi.h"
                        if not os.path.exists(os.path.join(root, header)) and header != "platform/winapi.h":
                            continue  # generated or beside the file
                        other = owner(header)
                        if other and other not in reach:
                            faults.append(f"{path}:{number}: {target} includes {header} "
                                          f"of {other} without linking it")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
