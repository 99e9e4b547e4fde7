#!/usr/bin/python3
"""Types keys into a GNOME Shell session, as a keyboard would.

    mutter_keys.py KEY... [sleepSECONDS]...

Each KEY is a key name (Tab, Return, Escape, Left, Right, Up, Down, space,
Alt_L, Control_L, Shift_L), a single character, a hex keysym (0xff0d), or
keys joined with "+" that are held together (Alt_L+a). "sleep0.5" waits.

The keys go through mutter's own remote desktop interface on the session bus
(org.gnome.Mutter.RemoteDesktop), so they reach the shell's modal dialogs,
which X11 input sent to XWayland (XTest, xdotool) never does.

The shell's "Allow Applications to Take Screenshots?" dialog opens with Deny
focused: "Tab Return" (or "Right Return", "Tab space") presses Allow;
"Return", "Escape" and "Tab Tab Return" (focus wraps round) deny. Either
answer is remembered for the session's user, as the permission store's
screenshot/screenshot entry.
"""

import sys
import time

import dbus

NAMED = {
    'Tab': 0xff09, 'Return': 0xff0d, 'Escape': 0xff1b, 'space': 0x20,
    'Left': 0xff51, 'Up': 0xff52, 'Right': 0xff53, 'Down': 0xff54,
    'Shift_L': 0xffe1, 'Control_L': 0xffe3, 'Alt_L': 0xffe9,
}
SERVICE = 'org.gnome.Mutter.RemoteDesktop'


def keysym(name):
    if name in NAMED:
        return NAMED[name]
    if name.startswith('0x'):
        return int(name, 16)
    if len(name) == 1:
        return ord(name)
    raise SystemExit('mutter_keys: unknown key %r' % name)


def main(args):
    if not args:
        raise SystemExit(__doc__)
    # Checked first, so that a typo types nothing.
    steps = [('sleep', float(a[5:])) if a.startswith('sleep')
             else ('keys', [keysym(k) for k in a.split('+')]) for a in args]
    bus = dbus.SessionBus()
    desktop = dbus.Interface(bus.get_object(SERVICE, '/org/gnome/Mutter/RemoteDesktop'),
                             'org.gnome.Mutter.RemoteDesktop')
    session = dbus.Interface(bus.get_object(SERVICE, desktop.CreateSession()),
                             'org.gnome.Mutter.RemoteDesktop.Session')
    session.Start()
    try:
        time.sleep(0.3)  # the session's virtual keyboard is made on Start
        for kind, value in steps:
            if kind == 'sleep':
                time.sleep(value)
                continue
            for k in value:
                session.NotifyKeyboardKeysym(dbus.UInt32(k), True)
            for k in reversed(value):
                session.NotifyKeyboardKeysym(dbus.UInt32(k), False)
            time.sleep(0.2)  # one key at a time, as the dialog handles them
    finally:
        session.Stop()


if __name__ == '__main__':
    main(sys.argv[1:])
