#!/usr/bin/env python3
"""Every room of the program (a folder with a mipo_room() in its CMakeLists.txt)
includes only its own headers and those of the rooms it depends on, and every
room depends only on rooms below it: rooms on one level of LEVELS stand side by
side and see none of each other. Includes name their room's folder, in quotes."""
import pathlib
import re
import sys

# From the bottom up; folders on one line stand side by side.
LEVELS = [
    ["core"],
    ["platform/files"],
    ["platform/picture_io"],
    ["platform/x11"],
    ["platform/instance"],
    ["platform/qt"],
    ["platform/portal"],
    ["jpeg_encoder"],
    ["widgets"],
    ["document"],
    ["picture_files"],
    ["capture"],
    ["about", "compare_window", "info_window", "main_window"],
    ["app"],
]
OUTSIDE = {"tests", "bench", "resources", "scripts", "docs", "packaging"}

ROOM = re.compile(r"mipo_room\(\s*(\w+)(.*?)\)", re.S)
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def rooms_of(root):
    """{folder: (name, [dependency names])} from the CMakeLists.txt files."""
    rooms = {}
    for cmake in sorted(root.rglob("CMakeLists.txt")):
        folder = cmake.parent.relative_to(root).as_posix()
        if folder.split("/")[0] in OUTSIDE or folder.startswith("build"):
            continue
        for name, body in ROOM.findall(cmake.read_text(encoding="utf-8")):
            words = body.split()
            deps = []
            if "DEPENDS" in words:
                for word in words[words.index("DEPENDS") + 1:]:
                    if word.isupper():
                        break
                    deps.append(word)
            rooms[folder] = (name, deps)
    return rooms


def check(root):
    root = pathlib.Path(root)
    wrong = []
    rooms = rooms_of(root)
    level = {folder: i for i, row in enumerate(LEVELS) for folder in row}
    folder_of = {name: folder for folder, (name, _) in rooms.items()}
    for folder in rooms:
        if folder not in level:
            wrong.append(f"{folder}/ has no place among the levels")
    for folder in level:
        if folder not in rooms:
            wrong.append(f"{folder}/ is a level but no room")
    if wrong:
        return wrong
    sees = {}
    for folder, (name, deps) in sorted(rooms.items(), key=lambda r: level[r[0]]):
        seen = {folder}
        for dep in deps:
            below = folder_of.get(dep)
            if below is None:
                wrong.append(f"{folder}/ depends on {dep}, which is no room")
            elif level[below] >= level[folder]:
                wrong.append(f"{folder}/ depends on {below}/, which is not below it")
            else:
                seen |= sees.get(below, {below})
        sees[folder] = seen
    tops = {f.split("/")[0] for f in rooms}
    owned = set()
    for folder in rooms:
        for source in sorted((root / folder).glob("*.[ch]*")):
            if source.suffix not in (".h", ".cpp", ".in"):
                continue
            owned.add(source.parent)
            text = source.read_text(encoding="utf-8")
            where = source.relative_to(root).as_posix()
            for bracket, target in INCLUDE.findall(text):
                first = target.split("/")[0]
                if bracket == "<":
                    if first in tops:
                        wrong.append(f"{where} includes our own <{target}> as a library's")
                    continue
                if "/" not in target:
                    if not target.endswith(".moc"):
                        wrong.append(f'{where} includes "{target}" without its folder')
                    continue
                room = max((f for f in rooms if target.startswith(f + "/")), key=len, default=None)
                if room is None:
                    wrong.append(f'{where} includes "{target}" from no room')
                elif room not in sees[folder]:
                    wrong.append(f"{where} includes from {room}/, which {folder}/ does not see")
    # Sources in a folder that is no room go unchecked and unbuilt.
    for source in sorted(root.rglob("*.cpp")):
        rel = source.relative_to(root)
        if rel.parts[0] in OUTSIDE or rel.parts[0].startswith("build") or rel.parts[0].startswith("."):
            continue
        if source.parent not in owned and rel.parent.as_posix() not in rooms:
            wrong.append(f"{rel.parent.as_posix()}/ has sources but no room")
            owned.add(source.parent)
    return wrong


if __name__ == "__main__":
    problems = check(sys.argv[1] if len(sys.argv) > 1 else ".")
    print("\n".join(problems) or "every include and every room's dependency points down")
    sys.exit(1 if problems else 0)
