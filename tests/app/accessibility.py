#!/usr/bin/python3
# What a screen reader sees of the program, through the real accessibility bus
# (AT-SPI): names and roles of the buttons, sliders and the picture, a button
# pressed through its action, and the focus walked with the keyboard alone.
# Run on an X server with a window manager, inside a session bus:
#   tests/app/accessibility.py PROGRAM
import os
import struct
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)


def wait_for(find, seconds=20):
    end = time.time() + seconds
    context = GLib.MainContext.default()
    while time.time() < end:
        # The bus's news of windows that came and went keeps the tree current.
        while context.pending():
            context.iteration(False)
        try:
            found = find()
        except Exception:  # the tree changes under us while windows come and go
            found = None
        if found:
            return found
        time.sleep(0.2)
    return None


def walk(node, depth=0):
    if node is None or depth > 30:
        return
    yield node
    for i in range(node.childCount):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        a = desktop.getChildAtIndex(i)
        if a is not None and a.name == "mipoquibbo":
            return a
    return None


def named(role, name):
    a = app()
    for node in walk(a):
        if node.getRole() == role and node.name == name:
            return node
    return None


def focused():
    for node in walk(app()):
        if node.getState().contains(pyatspi.STATE_FOCUSED):
            return node.name
    return None


def key(name):
    subprocess.run(["xdotool", "key", name], check=True)
    time.sleep(0.3)


def pump_until(condition, seconds=20):
    """Delivers the bus's events while waiting for condition."""
    context = GLib.MainContext.default()
    end = time.time() + seconds
    while time.time() < end:
        while context.pending():
            context.iteration(False)
        if condition():
            return True
        time.sleep(0.05)
    return False


descriptions = []


def description_changed(event):
    try:
        descriptions.append((event.source.name, event.source.description))
    except Exception:
        pass


pyatspi.Registry.registerEventListener(description_changed,
                                       "object:property-change:accessible-description")


folder = tempfile.mkdtemp()
picture = os.path.join(folder, "写真.bmp")
rows = b"".join(bytes([40, 80, 120]) * 64 for _ in range(48))
with open(picture, "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", 54 + len(rows), 0, 0, 54) +
            struct.pack("<IiiHHIIiiII", 40, 64, 48, 1, 24, 0, len(rows), 2835, 2835, 0, 0) + rows)

env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
program = subprocess.Popen([sys.argv[1], picture], env=env)
try:
    check(wait_for(app) is not None, "the program is on the accessibility bus")
    buttons = ["画像ファイルを開く", "JPEGで保存", "デスクトップ全体をクリップボードにコピー",
               "クリップボードの画像を取り込む", "ブラウザのページをキャプチャ"]
    for name in buttons:
        check(wait_for(lambda: named(pyatspi.ROLE_PUSH_BUTTON, name)) is not None,
              "a button named " + name)
    for name, value in (("ＩＥキャプチャＴＩＭＥバー", 1500), ("解像度", 50)):
        bar = wait_for(lambda: named(pyatspi.ROLE_SCROLL_BAR, name))
        check(bar is not None, "a slider named " + name)
        if bar is not None:
            check(int(bar.queryValue().currentValue) == value,
                  "%s shows %s" % (name, bar.queryValue().currentValue))
    shown = wait_for(lambda: next((n for n in walk(app()) if n.name == "画像"), None))
    check(shown is not None, "the picture has a name")
    if shown is not None:
        check("写真.bmp" in shown.description and "64×48" in shown.description,
              "the picture's description: " + shown.description)

    # The Open button pressed through its action brings the file dialog up.
    opener = named(pyatspi.ROLE_PUSH_BUTTON, buttons[0])
    action = opener.queryAction()
    check(action.nActions >= 1, "the Open button has an action")
    action.doAction(0)
    cancel = wait_for(lambda: named(pyatspi.ROLE_PUSH_BUTTON, "キャンセル"))
    check(cancel is not None, "the file dialog came up")
    if cancel is not None:
        cancel.queryAction().doAction(0)
        check(wait_for(lambda: named(pyatspi.ROLE_PUSH_BUTTON, "キャンセル") is None), "the dialog went")

    # The keyboard alone: Tab walks the five buttons and the slider.
    main = wait_for(lambda: next((n for n in walk(app()) if n.getRole() == pyatspi.ROLE_FRAME and
                                  n.name.startswith("みぽ")), None))
    # From the start the main window is the active one, not the quality window.
    check(main is not None and wait_for(lambda: main.getState().contains(pyatspi.STATE_ACTIVE)),
          "the main window is active after the start")
    subprocess.run(["xdotool", "search", "--name", "IEキャプチャ機能付", "windowactivate", "--sync"])
    time.sleep(0.5)
    check(wait_for(lambda: focused() == buttons[0]),
          "the Open button has the focus from the start (it is %s)" % focused())
    seen = []
    for _ in range(12):
        key("Tab")
        seen.append(focused())
    check(all(seen), "every Tab stop has a name (seen: %s)" % seen)
    # The quality window's slider comes after the main window's, then the
    # main window again.
    for name in buttons + ["ＩＥキャプチャＴＩＭＥバー", "解像度"]:
        check(name in seen, name + " takes the focus by Tab (seen: %s)" % seen)
    if "解像度" in seen:
        at = seen.index("解像度")
        check(at + 1 < len(seen) and seen[at + 1] != "解像度",
              "Tab leaves the quality window again (seen: %s)" % seen)
    # Space presses a button: the focused Open button brings its dialog up.
    for _ in range(12):
        if focused() == buttons[0]:
            break
        key("Tab")
    check(focused() == buttons[0], "Tab comes round to the Open button")
    key("space")
    cancel = wait_for(lambda: named(pyatspi.ROLE_PUSH_BUTTON, "キャンセル"))
    check(cancel is not None, "Space on the Open button brings the file dialog up")
    if cancel is not None:
        key("Escape")
    wait_for(lambda: named(pyatspi.ROLE_PUSH_BUTTON, "キャンセル") is None)

    # A new quality on the slider: its new size is said with it.
    for _ in range(12):
        if focused() == "解像度":
            break
        key("Tab")
    check(focused() == "解像度", "Tab reaches the quality slider")
    del descriptions[:]
    key("Right")
    said = lambda: [d for n, d in descriptions if n == "解像度" and d.startswith("JPEG の大きさ 約")]
    check(pump_until(said), "the size is announced on the slider (heard: %s)" % descriptions)
    quality = named(pyatspi.ROLE_SCROLL_BAR, "解像度")
    check(quality is not None and int(quality.queryValue().currentValue) == 51,
          "the slider moved to 51")

    # Ctrl+K: the compare window, its parts named; the divider dragged by the pointer.
    key("ctrl+k")
    compare = wait_for(lambda: named(pyatspi.ROLE_FRAME, "画質の比較"))
    check(compare is not None, "Ctrl+K opens the compare window")
    for name in ("全体表示", "100 %", "200 %", "400 %"):
        check(wait_for(lambda: named(pyatspi.ROLE_CHECK_BOX, name)) is not None,
              "a zoom button named " + name)
    view = wait_for(lambda: next((n for n in walk(app()) if n.name == "比較表示"), None))
    check(view is not None, "the compare view has a name")
    if view is not None:
        check(wait_for(lambda: "JPEG 品質 51" in view.description and "境界 50 %" in view.description),
              "the view says what each side shows: " + view.description)
        x, y, w, h = view.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2)], check=True)
        subprocess.run(["xdotool", "mousedown", "1"], check=True)
        for step in range(1, 5):
            subprocess.run(["xdotool", "mousemove", str(x + w // 2 - w * step // 16), str(y + h // 2)],
                           check=True)
            time.sleep(0.1)
        subprocess.run(["xdotool", "mouseup", "1"], check=True)
        check(wait_for(lambda: "境界 25 %" in view.description),
              "the divider follows the pointer: " + view.description)
        key("ctrl+2")
        check(wait_for(lambda: "倍率 200 %" in view.description),
              "Ctrl+2 zooms to 200 %: " + view.description)

    # Ctrl+Q ends the program.
    key("ctrl+q")
    try:
        program.wait(timeout=20)
    except subprocess.TimeoutExpired:
        pass
    check(program.poll() is not None, "Ctrl+Q ends the program")
finally:
    program.kill()
    program.wait()

print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
sys.exit(1 if failures else 0)
