#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The window as a screen reader finds it on the accessibility bus: every control named, and a
lamp's state before and after the box's reply.  usage: accessibility.py ZEPHRIN
(run under dbus-run-session and xvfb-run)."""
import os, pty, subprocess, sys, tempfile, time, tty

import pyatspi

box, device = pty.openpty()  # the test plays the box on the pty's master side
tty.setraw(box)
config = tempfile.TemporaryDirectory()
os.makedirs(config.name + "/Zephrin")
with open(config.name + "/Zephrin/Zephrin.conf", "w") as settings:
    settings.write("[settings]\nport=3\nprotocol=1\n[serial%%20ports]\nCOM3=%s\n" % os.ttyname(device))
env = dict(os.environ, XDG_CONFIG_HOME=config.name, QT_QPA_PLATFORM="xcb",
           QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
zephrin = subprocess.Popen([sys.argv[1]], env=env)


def controls():
    """Every accessible below the program's window: (role, name, description)."""
    found = []
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name.lower() == "zephrin":
            stack = [app]
            while stack:
                node = stack.pop()
                found.append((node.getRoleName(), node.name, node.description))
                if node.name == "Terminal" and node.getState().contains(pyatspi.STATE_EDITABLE):
                    found.append(("editable", "Terminal", ""))
                stack.extend(child for child in node if child is not None)
    return found


def wait_for(condition, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        found = controls()
        if condition(found):
            return found
        time.sleep(0.2)
    sys.exit("not seen in %d s; the tree:\n%s" % (seconds, "\n".join(map(str, controls()))))


def lamp(found, name):
    return [description for role, n, description in found if n == name]


try:
    found = wait_for(lambda f: lamp(f, "TX Focus 2 lamp") == ["dark"])
    names = {name for role, name, description in found}
    for expected in ["TX Focus 1", "RX Focus Stereo", "?TX", "Exit", "Connect", "Disconnect",
                     "TX Focus 1 lamp", "RX Focus Stereo lamp", "Network lamp", "Terminal",
                     "Radio 1 aux output", "Radio 2 aux output"]:
        assert expected in names, "no control named %r in %s" % (expected, sorted(names))
    assert all(name for role, name, d in found if role == "push button"), "a button without name"
    assert ("editable", "Terminal", "") not in found, "the terminal is read-only text"
    assert lamp(found, "Network lamp") == ["not connected"], lamp(found, "Network lamp")
    os.write(box, b"TX2\r")  # the box's reply: radio 2 transmits
    wait_for(lambda f: lamp(f, "TX Focus 2 lamp") == ["lit"])
    print("the lamp went from dark to lit; %d accessible objects named" % len(names))
finally:
    zephrin.terminate()
    zephrin.wait(10)
