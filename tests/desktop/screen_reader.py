#!/usr/bin/python3
# An accessibility client that behaves as a screen reader towards the program: it
# listens to focus, state, text, value and window events (so that the toolkit sends
# them), reads the whole tree of every new window of the program it finds on the
# desktop, and reads the name, role and text of whatever an event comes from.
# Prints "tree PID OBJECTS" once it has read a program's tree.
#   screen_reader.py APPLICATION_NAME
import sys
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

EVENTS = ["focus:", "window:", "object:state-changed", "object:text-changed",
          "object:text-caret-moved", "object:property-change", "object:value-changed",
          "object:children-changed", "object:selection-changed"]
warnings.simplefilter("ignore", DeprecationWarning)  # the text interface's old name
LIMIT = 5000  # objects read in one tree, whatever the window holds
events = 0


def read(node):
    """What a screen reader reads of one object; raises when it has gone."""
    node.get_name()
    node.get_role_name()
    node.get_description()
    node.get_state_set()
    text = node.get_text_iface()
    if text is not None:
        Atspi.Text.get_text(text, 0, min(200, Atspi.Text.get_character_count(text)))


def walk(node, count=0):
    read(node)
    count += 1
    for i in range(node.get_child_count()):
        if count >= LIMIT:
            break
        child = node.get_child_at_index(i)
        if child is not None:
            count = walk(child, count)
    return count


def on_event(event):
    global events
    events += 1
    try:
        if event.source is not None:
            read(event.source)
    except GLib.Error:
        pass  # the object went while the event was on its way


def scan(name, seen):
    # A desktop or program slow to answer on a busy machine is asked again next time.
    try:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is None or app.get_name() != name:
                continue
            pid = app.get_process_id()
            if pid in seen:
                continue
            count = walk(app)
            seen.add(pid)
            print("tree", pid, count, "after", events, "events", flush=True)
    except GLib.Error as error:
        print("unread", error.message, flush=True)
    return True


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: screen_reader.py APPLICATION_NAME")
    Atspi.init()
    listener = Atspi.EventListener.new(on_event)
    for kind in EVENTS:
        listener.register(kind)
    seen = set()
    GLib.timeout_add(200, scan, sys.argv[1], seen)
    print("listening", flush=True)
    Atspi.event_main()


main()
