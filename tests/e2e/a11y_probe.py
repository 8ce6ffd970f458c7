#!/usr/bin/env python3
"""What a screen reader sees of the dialer, through AT-SPI (pyatspi).

Commands (the application is the one named "nebrin" on the accessibility bus):
  dump                          print the accessible tree of every window
  press NAME                    invoke the press action of the push button NAME
  wait-description TEXT SECS    wait for the main window's description to hold
                                TEXT, listening for its change events; prints
                                the events heard
  press-and-wait NAME TEXT SECS  press NAME, then wait-description TEXT SECS
  names TITLE                   every control of window TITLE has a name
  focused                       print the name of the control with the focus
  window TITLE SECS             wait for a window TITLE to appear
  page TITLE TEXT SECS          wait for the provider's page ("Strona dostawcy")
                                in window TITLE to read TEXT; prints its pieces
  follow NAME                   invoke the press action of the link NAME
Exits 0 on success, 1 with the reason on stderr.
"""
import sys
import time

import pyatspi
from gi.repository import GLib

# The roles of controls, which a screen reader must be able to name. Panels,
# fillers and the like only group them.
CONTROL_ROLES = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON,
    pyatspi.ROLE_LABEL, pyatspi.ROLE_TEXT, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_ENTRY,
    pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_IMAGE, pyatspi.ROLE_LINK,
    pyatspi.ROLE_STATIC, pyatspi.ROLE_DOCUMENT_WEB, pyatspi.ROLE_DOCUMENT_FRAME,
}


def fail(why):
    print("FAIL: " + why, file=sys.stderr)
    sys.exit(1)


def application(wait=20.0):
    end = time.monotonic() + wait
    while time.monotonic() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == "nebrin":
                return app
        time.sleep(0.2)
    fail("no application 'nebrin' on the accessibility bus")


def windows(app):
    return [w for w in app if w is not None]


def window(app, title):
    for w in windows(app):
        if w.name == title:
            return w
    return None


def walk(node, depth=0):
    yield node, depth
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def describe(node):
    line = "%s %r" % (node.getRoleName(), node.name)
    if node.description:
        line += " — %r" % node.description
    try:
        action = node.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        if names:
            line += " [actions: %s]" % ", ".join(names)
    except NotImplementedError:
        pass
    states = node.getState()
    if states.contains(pyatspi.STATE_FOCUSABLE):
        line += " focusable"
    return line


def dump(app):
    for w in windows(app):
        for node, depth in walk(w):
            print("  " * depth + describe(node))


def find(app, name, role):
    for w in windows(app):
        for node, _ in walk(w):
            if node.name == name and node.getRole() == role:
                return node
    return None


def activate(app, name, role, what):
    node = find(app, name, role)
    if node is None:
        fail("no %s %r" % (what, name))
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "click"):
            action.doAction(i)
            return
    fail("%s %r has no press action" % (what, name))


def press(app, name):
    activate(app, name, pyatspi.ROLE_PUSH_BUTTON, "push button")


def main_window(app):
    for w in windows(app):
        if w.getRole() == pyatspi.ROLE_FRAME and w.getState().contains(pyatspi.STATE_SHOWING):
            for node, _ in walk(w):
                if node.getRole() == pyatspi.ROLE_PUSH_BUTTON and node.name in ("Połącz", "Rozłącz"):
                    return w
    fail("no main window with a power button")


def wait_description(app, text, secs, button=None):
    frame = main_window(app)
    heard = []

    def on_event(event):
        if event.source == frame:
            # The event carries the object; its new description is read now.
            heard.append(event.source.description)

    pyatspi.Registry.registerEventListener(on_event, "object:property-change:accessible-description")
    if button:
        press(app, button)
    context = GLib.MainContext.default()
    end = time.monotonic() + secs
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        if any(text in h for h in heard):
            print("heard: " + " | ".join(dict.fromkeys(heard)))
            print("description: " + frame.description)
            return
        time.sleep(0.05)
    fail("no description change to %r heard (heard: %s; now %r)" % (text, heard, frame.description))


def names(app, title):
    w = window(app, title)
    if w is None:
        fail("no window %r (windows: %s)" % (title, [x.name for x in windows(app)]))
    unnamed = []
    count = 0
    for node, _ in walk(w):
        if node.getRole() in CONTROL_ROLES:
            count += 1
            if not node.name.strip():
                unnamed.append(describe(node))
    if unnamed:
        fail("unnamed controls in %r: %s" % (title, unnamed))
    print("%s: %d controls, all named" % (title, count))


def wait_window(app, title, secs):
    end = time.monotonic() + secs
    while time.monotonic() < end:
        if window(app, title) is not None:
            return
        time.sleep(0.2)
    fail("no window %r (windows: %s)" % (title, [x.name for x in windows(app)]))


def focused(app):
    for w in windows(app):
        for node, _ in walk(w):
            if node.getRole() in (pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG):
                continue
            if node.getState().contains(pyatspi.STATE_FOCUSED):
                print(node.name)
                return
    print("")


PAGE = "Strona dostawcy"


def page(app, title, text, secs):
    end = time.monotonic() + secs
    found = None
    while time.monotonic() < end:
        w = window(app, title)
        found = None
        if w is not None:
            for node, _ in walk(w):
                if node.name == PAGE:
                    found = node
                    break
        if found is not None and text in found.description:
            for node, _ in walk(found):
                print(describe(node))
            return
        time.sleep(0.2)
    fail("the page in %r does not read %r (it reads %r)" % (title, text, found.description if found else None))


def follow(app, name):
    activate(app, name, pyatspi.ROLE_LINK, "link")


def main(argv):
    app = application()
    cmd = argv[1] if len(argv) > 1 else "dump"
    if cmd == "dump":
        dump(app)
    elif cmd == "press":
        press(app, argv[2])
    elif cmd == "wait-description":
        wait_description(app, argv[2], float(argv[3]))
    elif cmd == "press-and-wait":
        wait_description(app, argv[3], float(argv[4]), button=argv[2])
    elif cmd == "focused":
        focused(app)
    elif cmd == "names":
        names(app, argv[2])
    elif cmd == "page":
        page(app, argv[2], argv[3], float(argv[4]))
    elif cmd == "follow":
        follow(app, argv[2])
    elif cmd == "window":
        wait_window(app, argv[2], float(argv[3]))
    else:
        fail("unknown command " + cmd)


if __name__ == "__main__":
    main(sys.argv)
