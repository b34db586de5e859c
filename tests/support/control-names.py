#!/usr/bin/python3
# control-names.py PID: prints the push buttons and check boxes of the
# program PID as the accessibility bus (AT-SPI) shows them to a screen
# reader, one "role: name" line each, waiting up to 30 s for a push button
# to appear. The program must run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
import sys
import time

import gi
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi

pid = int(sys.argv[1])
ROLES = {Atspi.Role.PUSH_BUTTON: "push button", Atspi.Role.CHECK_BOX: "check box"}


def controls_in(node, found, depth=0):
    if node is None or depth > 10:
        return
    role = node.get_role()
    if role in ROLES:
        found.append("%s: %s" % (ROLES[role], node.get_name()))
    for i in range(node.get_child_count()):
        controls_in(node.get_child_at_index(i), found, depth + 1)


deadline = time.monotonic() + 30
while time.monotonic() < deadline:
    desktop = Atspi.get_desktop(0)
    found = []
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        try:
            if app is not None and app.get_process_id() == pid:
                controls_in(app, found)
        except gi.repository.GLib.Error:
            found = []  # an application that went away meanwhile
    if any(line.startswith("push button: ") for line in found):
        print("\n".join(found))
        sys.exit(0)
    time.sleep(0.1)
print("no push button in process %d" % pid)
sys.exit(1)
