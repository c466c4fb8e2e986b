#!/usr/bin/env python3
"""Checks that the program's libraries include one another in one direction.

    platform stand-ins <- core <- stream <- render and devices <- app

Every quoted #include of a library's source is resolved the way the compiler
resolves it (the including file's folder, then the include roots of the
targets) and the folder of the file it finds decides its layer. A file may
include headers of its own layer and of earlier ones; render and devices do
not include each other; nothing below the app includes a header of app/
itself (zucam.h, ui/...). The Qt-free part of the core (system/, tether/)
includes no Qt header at all.

Exit status 1 with one line per offending include; 0 when the line holds.
Run by scripts/test.sh and as the CTest case "layering_check".
"""
import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
APP = os.path.join(ROOT, "app")
PLATFORM = os.path.join(ROOT, "platform")

# Include roots of the library targets, in the order CMake hands them over.
INCLUDE_ROOTS = [APP, os.path.join(APP, "stream"), os.path.join(APP, "vexoRender")]
if os.path.isdir(PLATFORM):
    for name in sorted(os.listdir(PLATFORM)):
        include = os.path.join(PLATFORM, name, "include")
        if os.path.isdir(include):
            INCLUDE_ROOTS.append(include)

# Layer rank by folder; the deepest matching folder wins. Equal rank with a
# different name means siblings that must not meet.
LAYERS = [
    (PLATFORM, 0, "platform"),
    (os.path.join(APP, "core"), 1, "core"),
    (os.path.join(APP, "stream"), 2, "stream"),
    (os.path.join(APP, "vexoRender"), 3, "render"),
    (os.path.join(APP, "devices"), 3, "devices"),
    (APP, 4, "app"),
]
QT_FREE = [os.path.join(APP, "core", "system"), os.path.join(APP, "core", "tether")]

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(path):
    best = None
    for folder, rank, name in LAYERS:
        if path == folder or path.startswith(folder + os.sep):
            if best is None or len(folder) > len(best[0]):
                best = (folder, rank, name)
    return best


def resolve(including_file, name):
    for root in [os.path.dirname(including_file)] + INCLUDE_ROOTS:
        candidate = os.path.normpath(os.path.join(root, name))
        if os.path.isfile(candidate):
            return candidate
    return None  # a system header or a generated one (ui_*.h, moc)


def inside(path, folders):
    return any(path.startswith(folder + os.sep) for folder in folders)


def main():
    problems = []
    for base in (APP, PLATFORM):
        for directory, _, files in os.walk(base):
            for file_name in sorted(files):
                if not file_name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(directory, file_name)
                own = layer_of(path)
                if own is None or own[2] == "app":
                    continue
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        quote, name = match.groups()
                        where = "%s:%d" % (os.path.relpath(path, ROOT), number)
                        if quote == "<":
                            if inside(path, QT_FREE) and re.match(r"Q[A-Za-z]", name):
                                problems.append("%s: the Qt-free core includes <%s>" % (where, name))
                            continue
                        target = resolve(path, name)
                        if target is None:
                            continue
                        theirs = layer_of(target)
                        if theirs is None:
                            continue
                        if theirs[1] > own[1] or (theirs[1] == own[1] and theirs[2] != own[2]):
                            problems.append('%s: %s includes "%s" of %s (%s)' % (
                                where, own[2], name, theirs[2], os.path.relpath(target, ROOT)))
    for problem in problems:
        print(problem)
    if problems:
        print("check-layers: %d include(s) against the direction "
              "platform <- core <- stream <- render and devices <- app" % len(problems))
        return 1
    print("check-layers: the libraries include one another in one direction")
    return 0


if __name__ == "__main__":
    sys.exit(main())
