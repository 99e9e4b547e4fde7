#!/usr/bin/env python3
"""What layers.py refuses, on small trees of rooms made for the purpose."""
import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import layers  # noqa: E402

ROOMS = {
    "core": "mipo_room(core SOURCES runtime.h)",
    "platform/files": "mipo_room(platform_files DEPENDS core SOURCES a.h)",
    "platform/x11": "mipo_room(platform_x11 DEPENDS core SOURCES x11.h)",
    "widgets": "mipo_room(widgets DEPENDS core SOURCES controls.h)",
    "about": "mipo_room(about DEPENDS core widgets SOURCES about_box.h)",
    "main_window": "mipo_room(main_window DEPENDS core widgets SOURCES main_window.h)",
}
LEVELS = [["core"], ["platform/files"], ["platform/x11"], ["widgets"], ["about", "main_window"]]


class Layers(unittest.TestCase):
    def tree(self, sources, rooms=ROOMS):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        root = pathlib.Path(folder.name)
        for where, cmake in rooms.items():
            (root / where).mkdir(parents=True, exist_ok=True)
            (root / where / "CMakeLists.txt").write_text(cmake)
        for path, text in sources.items():
            (root / path).parent.mkdir(parents=True, exist_ok=True)
            (root / path).write_text(text)
        return root

    def setUp(self):
        saved = layers.LEVELS
        layers.LEVELS = LEVELS
        self.addCleanup(setattr, layers, "LEVELS", saved)

    def test_downward_includes_pass(self):
        root = self.tree({"about/about_box.cpp": '#include "about/about_box.h"\n#include "widgets/controls.h"\n'
                          '#include "core/runtime.h"\n#include <QWidget>\n#include "about_box.moc"\n'})
        self.assertEqual(layers.check(root), [])

    def test_upward_sideways_and_unseen_includes_fail(self):
        root = self.tree({
            "widgets/controls.cpp": '#include "about/about_box.h"\n',
            "about/about_box.cpp": '#include "main_window/main_window.h"\n',
            "platform/files/a.cpp": '#include "platform/x11/x11.h"\n',
        })
        self.assertEqual(sorted(layers.check(root)), sorted([
            "about/about_box.cpp includes from main_window/, which about/ does not see",
            "platform/files/a.cpp includes from platform/x11/, which platform/files/ does not see",
            "widgets/controls.cpp includes from about/, which widgets/ does not see",
        ]))

    def test_unprefixed_angled_and_generated_includes_fail(self):
        root = self.tree({"widgets/controls.cpp": '#include "controls.h"\n#include <core/runtime.h>\n'
                          '#include "app_identity.h"\n#include "generated/x.h"\n'})
        self.assertEqual(layers.check(root), [
            'widgets/controls.cpp includes "controls.h" without its folder',
            "widgets/controls.cpp includes our own <core/runtime.h> as a library's",
            'widgets/controls.cpp includes "app_identity.h" without its folder',
            'widgets/controls.cpp includes "generated/x.h" from no room',
        ])

    def test_dependencies_point_down_and_every_folder_has_a_room(self):
        rooms = dict(ROOMS)
        rooms["widgets"] = "mipo_room(widgets DEPENDS core about SOURCES controls.h)"
        rooms["about"] = "mipo_room(about DEPENDS core main_window SOURCES about_box.h)"
        root = self.tree({"stray/loose.cpp": "int x;\n", "platform/files/deeper/b.cpp": "int y;\n"}, rooms)
        self.assertEqual(sorted(layers.check(root)), sorted([
            "about/ depends on main_window/, which is not below it",
            "widgets/ depends on about/, which is not below it",
            "platform/files/deeper/ has sources but no room",
            "stray/ has sources but no room",
        ]))


if __name__ == "__main__":
    unittest.main()
