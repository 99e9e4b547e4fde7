#!/usr/bin/env python3
"""Every folder of the program includes only from itself and from folders
below it; the windows, side by side, include none of each other."""
import pathlib
import re
import sys

# From the bottom up; folders on one line stand side by side.
LAYERS = [
    ["platform"],
    ["jpeg_encoder"],
    ["widgets"],
    ["document"],
    ["picture_files"],
    ["capture"],
    ["about", "compare_window", "info_window", "main_window"],
    ["app"],
]
level = {folder: i for i, row in enumerate(LAYERS) for folder in row}
root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
include = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.M)
wrong = []
for folder in level:
    for source in sorted((root / folder).glob("*.[ch]*")):
        for target in include.findall(source.read_text(encoding="utf-8")):
            if target == folder:
                continue
            if target not in level or level[target] >= level[folder]:
                wrong.append(f"{source.relative_to(root)} includes from {target}/")
unknown = sorted(p.name for p in root.iterdir()
                 if p.is_dir() and any(p.glob("*.cpp")) and p.name not in level
                 and p.name not in ("tests", "bench") and not p.name.startswith("build"))
wrong += [f"{name}/ has no place among the layers" for name in unknown]
print("\n".join(wrong) or f"{sum(map(len, LAYERS))} folders, every include downward")
sys.exit(1 if wrong else 0)
