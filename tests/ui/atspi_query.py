#!/usr/bin/python3
"""Reads a running application's controls through AT-SPI, the accessibility bus a screen reader
such as Orca uses, and prints what a screen reader would be told.

Usage:
  atspi_query.py APP NAME [--role ROLE]   the first control named NAME (with role ROLE)
  atspi_query.py APP --in NAME            each control inside the one named NAME
  atspi_query.py APP --focused            the control that has the keyboard focus
  atspi_query.py APP --watch NAME SECONDS each announcement inside the control named NAME (a
                                          control shown anew, which a screen reader reads
                                          out), as it happens, for SECONDS seconds

Each control is printed on one line as ROLE<TAB>NAME<TAB>TEXT: its AT-SPI role ("push button",
"text", "label", "link", ...), its accessible name and, for a control that holds text, that
text (what is typed into a field); --watch prints the role and name of each control announced.
Options: --wait SECONDS (default 5) keeps looking that long for APP and the control.
Exit status: 0 found, 1 not found, 2 bad usage or no accessibility bus.

Examples, for Tessel (its application name is "tessel"):
  atspi_query.py tessel Break                 -> push button<TAB>Break<TAB>Break
  atspi_query.py tessel "Output Folder" --role text
  atspi_query.py tessel --in Status           -> notification<TAB><the status text><TAB>...
The status line sits in the frame named "Status", so the last line reads it at any moment,
during a long split too.

Needs: Debian's python3-pyatspi (hence /usr/bin/python3) and at-spi2-core; a session D-Bus
with the accessibility bus already started (e.g. by asking org.a11y.Bus for its address) before
the application starts; and a Qt application started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
"""

import argparse
import sys
import time

try:
    import pyatspi
    from gi.repository import GLib
except ImportError as error:
    print(f"atspi_query.py: {error} (install python3-pyatspi)", file=sys.stderr)
    sys.exit(2)


def describe(accessible):
    """ROLE<TAB>NAME<TAB>TEXT for one control."""
    text = accessible.name
    try:
        content = accessible.queryText()
        text = content.getText(0, content.characterCount)
    except NotImplementedError:
        pass
    return f"{accessible.getRoleName()}\t{accessible.name}\t{text}"


def find_application(name):
    for application in pyatspi.Registry.getDesktop(0):
        if application is not None and application.name == name:
            return application
    return None


def find_named(root, name, role=None):
    def matches(accessible):
        return (accessible is not None and accessible.name == name and
                (role is None or accessible.getRoleName() == role))

    return pyatspi.utils.findDescendant(root, matches, breadth_first=True)


ITEM_HOLDERS = (pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_BOX, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE,
                pyatspi.ROLE_TREE_TABLE)


def find_focused(root):
    def is_focused(accessible):
        return accessible is not None and accessible.getState().contains(pyatspi.STATE_FOCUSED)

    def focused(accessible):
        # A list's current item says it is focused even while the list is not.
        parent = accessible.parent if accessible is not None else None
        if parent is not None and parent.getRole() in ITEM_HOLDERS and not is_focused(parent):
            return False
        return is_focused(accessible)

    return pyatspi.utils.findDescendant(root, focused)


def lines_for(application, args):
    """The lines to print, or None while what was asked for is not there."""
    if args.focused:
        target = find_focused(application)
        return None if target is None else [describe(target)]
    if args.inside is not None:
        container = find_named(application, args.inside)
        if container is None:
            return None
        return [describe(child) for child in container if child is not None]
    target = find_named(application, args.name, args.role)
    return None if target is None else [describe(target)]


def watch(application, container_name, seconds):
    """Prints the role and name of every control inside the container that is announced."""
    container = find_named(application, container_name)
    if container is None:
        return 1

    def on_shown(event):
        source = event.source
        if event.detail1 and source is not None and source.parent == container:
            print(f"{source.getRoleName()}\t{source.name}", flush=True)

    pyatspi.Registry.registerEventListener(on_shown, "object:state-changed:showing")
    GLib.timeout_add(int(seconds * 1000), pyatspi.Registry.stop)
    print("watching", flush=True)  # the listener is registered: changes from now on are seen
    pyatspi.Registry.start()
    return 0


def main():
    parser = argparse.ArgumentParser(description="Reads an application's controls over AT-SPI.")
    parser.add_argument("app")
    parser.add_argument("name", nargs="?")
    parser.add_argument("--role")
    parser.add_argument("--in", dest="inside", metavar="NAME")
    parser.add_argument("--focused", action="store_true")
    parser.add_argument("--watch", nargs=2, metavar=("NAME", "SECONDS"))
    parser.add_argument("--wait", type=float, default=5.0)
    args = parser.parse_args()
    if sum(x is not None and x is not False
           for x in (args.name, args.inside, args.focused or None, args.watch)) != 1:
        parser.print_usage(sys.stderr)
        return 2

    deadline = time.monotonic() + args.wait
    while True:
        application = find_application(args.app)
        if application is not None and args.watch is not None:
            return watch(application, args.watch[0], float(args.watch[1]))
        lines = lines_for(application, args) if application is not None else None
        if lines is not None:
            print("\n".join(lines))
            return 0
        if time.monotonic() >= deadline:
            print(f"atspi_query.py: nothing found in {args.app}", file=sys.stderr)
            return 1
        time.sleep(0.1)


if __name__ == "__main__":
    sys.exit(main())
