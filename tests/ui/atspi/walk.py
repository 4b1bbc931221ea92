#!/usr/bin/python3
"""Walks the accessible tree of the running desktop program through AT-SPI, as a screen reader
sees it: the main window, then each window that a menu command opens (Options). Every object that is showing and can take the focus must have a name.

usage: walk.py APPLICATION_NAME COMMAND...   (each COMMAND a menu path such as "View/Options")
Exit status 0 when every object has a name, 1 with the nameless ones listed, 2 when the program
or a command cannot be found in time. Every wait is bounded."""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

WAIT_SECONDS = 20
POLL_SECONDS = 0.2
# Deeper than any window of the program; a cycle in a broken tree cannot make the walk endless.
MAX_OBJECTS = 20000


def wait_for(find):
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        try:
            found = find()
        except gi.repository.GLib.Error:
            # An object went away while it was looked at (a menu rebuilt): look again.
            found = None
        if found:
            return found
        time.sleep(POLL_SECONDS)
    return None


def children(node):
    try:
        return [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except gi.repository.GLib.Error:
        return []


def application(name):
    desktop = Atspi.get_desktop(0)
    for app in children(desktop):
        if app is not None and app.get_name() == name:
            return app
    return None


def describe(path):
    return " / ".join(path)


def nameless_focusable(window):
    """Paths of the objects under window that show, can take the focus and have no name."""
    found = []
    pending = [(window, [window.get_role_name() + " '" + (window.get_name() or "") + "'"])]
    seen = 0
    while pending and seen < MAX_OBJECTS:
        node, path = pending.pop()
        seen += 1
        if node is None:
            continue
        states = node.get_state_set()
        if not states.contains(Atspi.StateType.SHOWING):
            continue
        name = (node.get_name() or "").strip()
        if states.contains(Atspi.StateType.FOCUSABLE) and not name:
            found.append(describe(path))
        for child in children(node):
            if child is not None:
                label = child.get_role_name() + " '" + (child.get_name() or "") + "'"
                pending.append((child, path + [label]))
    return found


def windows(app):
    return [w for w in children(app) if w is not None]


def plain(text):
    return (text or "").replace("&", "").strip()


def menu_item(app, menu_path):
    """The menu item at menu_path ("View/Options") of the main window's menu bar."""
    wanted = [part.strip() for part in menu_path.split("/")]
    pending = windows(app)
    while pending:
        node = pending.pop()
        if node.get_role() == Atspi.Role.MENU_ITEM and plain(node.get_name()) == wanted[-1]:
            # An item's parent is its popup menu, whose parent is the item that opens it.
            menu = node.get_parent()
            opener = menu.get_parent() if menu else None
            if len(wanted) == 1 or (opener and plain(opener.get_name()) == wanted[-2]):
                return node
        pending.extend(c for c in children(node) if c is not None)
    return None


def find_button(window, name):
    pending = [window]
    while pending:
        node = pending.pop()
        if node.get_role() == Atspi.Role.PUSH_BUTTON and node.get_name() == name:
            return node
        pending.extend(c for c in children(node) if c is not None)
    return None


def press(node):
    """Presses node through its first action. A command that opens a modal window may not answer
    before that window closes, so the answer is not waited for long."""
    if node is None:
        return
    Atspi.set_timeout(500, 500)
    try:
        Atspi.Action.do_action(node, 0)
    except gi.repository.GLib.Error:
        pass
    finally:
        Atspi.set_timeout(-1, -1)


def main(arguments):
    if len(arguments) < 1:
        print(__doc__, file=sys.stderr)
        return 2
    name, commands = arguments[0], arguments[1:]
    app = wait_for(lambda: application(name))
    if app is None:
        names = [a.get_name() for a in children(Atspi.get_desktop(0)) if a is not None]
        print(f"walk: no application named {name!r} on the accessibility bus: {names}",
              file=sys.stderr)
        return 2
    main_window = wait_for(lambda: [w for w in windows(app)
                                    if w.get_state_set().contains(Atspi.StateType.SHOWING)])
    if not main_window:
        print(f"walk: {name!r} shows no window", file=sys.stderr)
        return 2
    failures = []
    for window in main_window:
        failures += nameless_focusable(window)
    for command in commands:
        before = {w.get_name() for w in windows(app)}
        item = wait_for(lambda: menu_item(app, command))
        if item is None:
            print(f"walk: no menu item {command!r}", file=sys.stderr)
            return 2
        press(item)
        opened = wait_for(lambda: [w for w in windows(app) if w.get_name() not in before
                                   and w.get_state_set().contains(Atspi.StateType.SHOWING)])
        if not opened:
            print(f"walk: {command!r} opened no window", file=sys.stderr)
            return 2
        for window in opened:
            print(f"walk: {command}: {window.get_role_name()} {window.get_name()!r}")
            failures += nameless_focusable(window)
            press(find_button(window, "Cancel"))
        if wait_for(lambda: not [w for w in windows(app) if w.get_name() not in before
                                 and w.get_state_set().contains(Atspi.StateType.SHOWING)]) is None:
            print(f"walk: the window of {command!r} did not close on Cancel", file=sys.stderr)
            return 2
    for failure in failures:
        print(f"focusable without a name: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
