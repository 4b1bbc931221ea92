#!/usr/bin/python3
"""Walks the accessible tree of the running desktop program through AT-SPI, as a screen reader
sees it: the main window, then each window that a command opens (Options, Channel Properties and
the Feed Options it opens). Every object that is showing and can take the focus must have a name.

usage: walk.py APPLICATION_NAME COMMAND...
  COMMAND is a menu path of the main window ("View/Options"), or "ITEM>KEY" for the entry with the
  access key KEY of the context menu that Shift+F10 opens on the last item of the tree
  ("Weather>i" for its Properties). Either
  may go on with ">BUTTON..." steps: each presses that button of the window just opened and walks
  the window it opens ("Weather>i>Feed Options...").
Exit status 0 when every object has a name, 1 with the nameless ones listed, 2 when the program
or a command cannot be found in time. Every wait is bounded."""
import subprocess
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


def opened_since(app, before):
    """The windows shown now that were not shown before; menus are the way there, not a window."""
    menus = (Atspi.Role.MENU, Atspi.Role.POPUP_MENU, Atspi.Role.MENU_BAR)
    return [w for w in windows(app) if w.get_name() not in before and w.get_role() not in menus
            and w.get_state_set().contains(Atspi.StateType.SHOWING)]


def shown_names(app):
    return {w.get_name() for w in windows(app) if w.get_state_set().contains(Atspi.StateType.SHOWING)}


def keys(*sequence):
    """Types into the active window through the X server (xdotool), as the user would."""
    subprocess.run(["xdotool", "key", "--delay", "150", *sequence], check=False, timeout=20)


def open_context_entry(app, item, access_key):
    """Selects the tree's last item (which must be item), opens its context menu with Shift+F10
    and picks an entry by its access key; returns an error text or None. The menu is typed at
    rather than pressed: a popup menu is no child of the application on the accessibility bus."""
    subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", " - Corvane$",
                    "windowactivate", "--sync"], check=False, timeout=20, capture_output=True)
    # End reaches the last shown row whichever groups are open; the item is a top-level feed.
    keys("End")
    selected = wait_for(lambda: [w for w in windows(app) if find_role(
        w, Atspi.Role.TABLE_CELL, item, selected=True)])
    if not selected:
        return f"the tree's last item is not {item!r} or it is not selected"
    keys("shift+F10")
    # The menu maps after the key; an access key typed before that would go to the tree.
    time.sleep(1)
    keys(access_key)
    return None


def find_role(window, role, name, selected=False):
    pending = [window]
    while pending:
        node = pending.pop()
        if node.get_role() == role and plain(node.get_name()) == name and (
                not selected or node.get_state_set().contains(Atspi.StateType.SELECTED)):
            return node
        pending.extend(c for c in children(node) if c is not None)
    return None


def find_button(window, name):
    return find_role(window, Atspi.Role.PUSH_BUTTON, name)


def walk_opened(app, before, what, buttons, failures):
    """Walks the windows that what opened, opens and walks what each of buttons opens in turn,
    then closes them all with Cancel, innermost first. Returns an error text or None."""
    opened = wait_for(lambda: opened_since(app, before))
    if not opened:
        return f"{what!r} opened no window"
    for window in opened:
        print(f"walk: {what}: {window.get_role_name()} {window.get_name()!r}")
        failures += nameless_focusable(window)
    if buttons:
        inner_before = shown_names(app)
        button = find_button(opened[0], buttons[0])
        if button is None:
            return f"{opened[0].get_name()!r} has no button {buttons[0]!r}"
        press(button)
        error = walk_opened(app, inner_before, what + ">" + buttons[0], buttons[1:], failures)
        if error:
            return error
    for window in opened:
        press(find_button(window, "Cancel"))
    if wait_for(lambda: not opened_since(app, before)) is None:
        return f"the window of {what!r} did not close on Cancel"
    return None


def run_command(app, command, failures):
    steps = [part.strip() for part in command.split(">")]
    before = shown_names(app)
    if len(steps) >= 2 and "/" not in steps[0]:
        error = open_context_entry(app, steps[0], steps[1])
        buttons = steps[2:]
    else:
        item = wait_for(lambda: menu_item(app, steps[0]))
        if item is None:
            return f"no menu item {steps[0]!r}"
        press(item)
        error, buttons = None, steps[1:]
    return error or walk_opened(app, before, command, buttons, failures)


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
        error = run_command(app, command, failures)
        if error:
            print(f"walk: {error}", file=sys.stderr)
            return 2
    for failure in failures:
        print(f"focusable without a name: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
