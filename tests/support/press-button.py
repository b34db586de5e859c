#!/usr/bin/python3
# press-button.py PID NAME: presses the push button called NAME in the
# program PID through the accessibility bus (AT-SPI), as a screen reader
# would, waiting up to 30 s for the button to appear. Prints "pressed".
# The program must run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 (Qt).
import sys
import time

import gi
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi

pid, name = int(sys.argv[1]), sys.argv[2]


def button_in(node, depth=0):
    if node is None or depth > 10:
        return None
    if node.get_role() == Atspi.Role.PUSH_BUTTON and node.get_name() == name:
        return node
    for i in range(node.get_child_count()):
        found = button_in(node.get_child_at_index(i), depth + 1)
        if found is not None:
            return found
    return None


deadline = time.monotonic() + 30
while time.monotonic() < deadline:
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        try:
            button = button_in(app) if app is not None and app.get_process_id() == pid else None
        except gi.repository.GLib.Error:
            button = None  # an application that went away meanwhile
        if button is not None:
            Atspi.Action.do_action(button, 0)
            print("pressed")
            sys.exit(0)
    time.sleep(0.1)
print("no button '%s' in process %d" % (name, pid))
sys.exit(1)
