#!/usr/bin/env python3
"""Fails when a source file includes a header from a layer it must not see.

Every library is compiled with the repository root as its include root, so
the compiler lets `file/` include a `service/` header; this table is what
keeps dependencies pointing down. A folder's tests see what the folder sees,
the folder itself and the shared test support (`tests/`).

Usage: layers.py [ROOT]   (default: the repository this script is in)
Exit 0 when every include follows the table, 1 with one line per violation.
"""
import os
import re
import sys

# Each folder and the folders directly below it; what a folder may include is
# everything reachable downwards from it.
BELOW = {
    "text": [],
    "work": ["text"],
    "file": ["text"],
    "http": ["file"],
    "manifest": ["http"],
    "transfer": ["manifest", "work"],
    "optimizer": ["transfer"],
    "analytics": ["transfer"],
    "workflow": ["optimizer", "analytics"],
    "service": ["workflow"],
    "locale": ["file"],
    "process": ["file"],
    "shortcut": ["file"],
    "updater": ["service", "locale", "process", "shortcut"],
    "tools": ["service", "process"],
    # Cross-subsystem tests, benchmarks and fuzz targets reach everything.
    "tests": ["updater", "tools"],
    "fuzz": ["updater", "tools"],
}
# Sub-folders with a wider view than their folder.
WIDER = {
    "tools/bench": ["tests"],
}
SOURCE_ENDINGS = (".cc", ".h", ".cpp", ".hpp")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def reachable(folder):
    seen = set()
    todo = [folder]
    while todo:
        current = todo.pop()
        if current in seen:
            continue
        seen.add(current)
        todo.extend(BELOW.get(current, []))
    return seen


def allowed_for(relative_path):
    parts = relative_path.split("/")
    folder = parts[0]
    allowed = reachable(folder)
    if "tests" in parts[1:-1]:
        allowed |= reachable("tests") if folder == "tests" else {"tests"}
    for prefix, extra in WIDER.items():
        if relative_path.startswith(prefix + "/"):
            for name in extra:
                allowed |= reachable(name)
    return allowed


def check(root):
    problems = []
    for directory, folders, files in os.walk(root):
        folders[:] = [f for f in folders if not f.startswith(".") and not f.startswith("build")]
        for name in files:
            if not name.endswith(SOURCE_ENDINGS):
                continue
            path = os.path.join(directory, name)
            relative = os.path.relpath(path, root).replace(os.sep, "/")
            if "/" not in relative:
                continue
            folder = relative.split("/")[0]
            if folder not in BELOW:
                problems.append(f"{relative}: folder '{folder}' is not in the layer table (tools/check/layers.py)")
                continue
            allowed = allowed_for(relative)
            with open(path, encoding="utf-8", errors="replace") as source:
                for number, line in enumerate(source, 1):
                    match = INCLUDE.match(line)
                    if not match or "/" not in match.group(1):
                        continue
                    target = match.group(1).split("/")[0]
                    if target in BELOW and target not in allowed:
                        problems.append(f"{relative}:{number}: includes {match.group(1)}, "
                                        f"but {folder} may not see {target}")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__))))
    problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"layers: {len(problems)} include(s) against the layer table", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
