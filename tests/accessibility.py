#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The window as a screen reader finds it on the accessibility bus: every control named, a lamp's
state before and after the box's reply, and the status line and the network lamp after Connect
and after the server stops.  usage: accessibility.py ZEPHRIN ZEPHRIN-SERVER
(run under dbus-run-session and xvfb-run)."""
import os, pty, socket, subprocess, sys, tempfile, time, tty

import pyatspi

config = tempfile.TemporaryDirectory()
os.makedirs(config.name + "/Zephrin")
env = dict(os.environ, XDG_CONFIG_HOME=config.name, QT_QPA_PLATFORM="xcb",
           QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")


def start(settings):
    with open(config.name + "/Zephrin/Zephrin.conf", "w") as f:
        f.write("[settings]\n" + settings)
    return subprocess.Popen([sys.argv[1]], env=env)


def controls():
    """Every accessible below the program's window, as (role, name, description, states)."""
    found = []
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name.lower() == "zephrin":
            stack = [app]
            while stack:
                node = stack.pop()
                found.append((node.getRoleName(), node.name, node.description,
                              node.getState().getStates(), node))
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
    """What a reader hears of the lamp after its name, and whether it is checked."""
    return [(d, pyatspi.STATE_CHECKED in s) for role, n, d, s, node in found if n == name]


def status(found):
    return [name for role, name, description, s, node in found if description == "Network status"]


def press(found, name):
    next(node for role, n, d, s, node in found if n == name and role == "push button") \
        .queryAction().doAction(0)


box, device = pty.openpty()  # the test plays the box on the pty's master side
tty.setraw(box)
zephrin = start("port=3\nprotocol=1\n[serial%%20ports]\nCOM3=%s\n" % os.ttyname(device))
try:
    found = wait_for(lambda f: lamp(f, "TX Focus 2 lamp") == [("dark", False)])
    names = {name for role, name, d, s, node in found}
    for expected in ["TX Focus 1", "RX Focus Stereo", "?TX", "Exit", "Connect", "Disconnect",
                     "TX Focus 1 lamp", "RX Focus Stereo lamp", "Network lamp", "Terminal",
                     "Radio 1 aux output", "Radio 2 aux output"]:
        assert expected in names, "no control named %r in %s" % (expected, sorted(names))
    assert all(name for role, name, d, s, node in found if role == "push button"), "a button unnamed"
    for role, name, d, states, node in found:
        if name == "Terminal":
            assert pyatspi.STATE_EDITABLE not in states, "the terminal is read-only text"
        if name.endswith(" lamp"):
            assert role == "check box" and pyatspi.STATE_READ_ONLY in states, (role, name)
    assert lamp(found, "Network lamp") == [("not connected", False)], lamp(found, "Network lamp")
    os.write(box, b"TX2\r")  # the box's reply: radio 2 transmits
    wait_for(lambda f: lamp(f, "TX Focus 2 lamp") == [("lit", True)])
    print("the lamp went from dark to lit; %d accessible objects named" % len(names))
finally:
    zephrin.terminate()
    zephrin.wait(10)

# Through a server on a port of the test's: the reader presses Connect and the box's OK.
with socket.socket() as probe:
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
server = subprocess.Popen([sys.argv[2], "--simulate", "otrsp", "--port", str(port), "--quiet"],
                          stderr=subprocess.DEVNULL)
zephrin = start("port=%d\nprotocol=1\nhost=127.0.0.1\n" % port)
try:
    press(wait_for(lambda f: lamp(f, "Network lamp") == [("not connected", False)]), "Connect")
    press(wait_for(lambda f: "OK" in {n for r, n, d, s, node in f if r == "push button"}), "OK")
    wait_for(lambda f: lamp(f, "Network lamp") == [("connected", True)]
             and status(f) == [" Network connected"])
    server.terminate()
    wait_for(lambda f: lamp(f, "Network lamp") == [("closed by the server", True)]
             and status(f) == ["Connection closed"])
    print("the status line and the network lamp said connected, then closed by the server")
finally:
    server.kill()
    zephrin.terminate()
    zephrin.wait(10)
