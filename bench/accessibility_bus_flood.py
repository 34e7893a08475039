#!/usr/bin/env python3
"""Floods a running tamPOD on the accessibility bus with calls and watches what a screen reader
meets meanwhile: its own call's answer time once a second and the program's memory.

usage (in the program's session, the program started with the accessibility bus on):
  accessibility_bus_flood.py watch SECONDS          the reader: one GetRole a second
  accessibility_bus_flood.py send KIND RATE SECONDS  one caller: RATE calls a second, each awaited
                                                     (25 s), as a reader's library awaits them
KIND: light (texts, roles, children), odd (bounded ranges, all properties, a range to the largest
offset, states) or heavy (all properties, introspection, relations). Two senders and one
watcher at once make the flood of the measurement: each sender prints its calls answered,
refused and unanswered; the watcher prints the slowest answer and the memory's peak."""
import sys
import time

import dbus
import dbus.lowlevel
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

ACCESSIBLE = 'org.a11y.atspi.Accessible'
PROPERTIES = 'org.freedesktop.DBus.Properties'
TEXT = 'org.a11y.atspi.Text'
CALLS = {
    'light': [('GetText', TEXT, 'ii', (0, -1)), ('GetRole', ACCESSIBLE, '', ()), ('GetChildren', ACCESSIBLE, '', ()),
              ('GetTextAtOffset', TEXT, 'iu', (3, 1))],
    'odd': [('GetBoundedRanges', TEXT, 'iiiiuuu', (0, 0, 99, 99, 0, 0, 0)), ('GetAll', PROPERTIES, 's', (ACCESSIBLE,)),
            ('GetRangeExtents', TEXT, 'iiu', (0, 2147483647, 0)), ('GetState', ACCESSIBLE, '', ())],
    'heavy': [('GetAll', PROPERTIES, 's', (ACCESSIBLE,)), ('Introspect', 'org.freedesktop.DBus.Introspectable', '', ()),
              ('GetAll', PROPERTIES, 's', (TEXT,)), ('GetRelationSet', ACCESSIBLE, '', ())],
}

DBusGMainLoop(set_as_default=True)
session = dbus.SessionBus()
bus = dbus.bus.BusConnection(session.get_object('org.a11y.Bus', '/org/a11y/bus').GetAddress(dbus_interface='org.a11y.Bus'))
registry = bus.get_object('org.a11y.atspi.Registry', '/org/a11y/atspi/accessible/root', introspect=False)
program = str(registry.GetChildren(dbus_interface=ACCESSIBLE)[-1][0])


def find(name, path='/org/a11y/atspi/accessible/root', seen=None):
    """The path of the element named name."""
    seen = set() if seen is None else seen
    if path in seen or path.endswith('/null'):
        return None
    seen.add(path)
    element = bus.get_object(program, path, introspect=False)
    try:
        if str(element.Get(ACCESSIBLE, 'Name', dbus_interface=PROPERTIES)) == name:
            return path
        children = element.GetChildren(dbus_interface=ACCESSIBLE)
    except dbus.DBusException:
        return None
    for child in children:
        found = find(name, str(child[1]), seen)
        if found:
            return found
    return None


target = find('Elapsed time')


def send(kind, rate, seconds):
    count = {'sent': 0, 'answered': 0, 'refused': 0, 'unanswered': 0}
    start = time.time()
    loop = GLib.MainLoop()

    def answered(reply):
        if not isinstance(reply, dbus.lowlevel.ErrorMessage):
            count['answered'] += 1
        elif reply.get_error_name() == 'org.freedesktop.DBus.Error.NoReply':
            count['unanswered'] += 1
        else:
            count['refused'] += 1

    def tick():
        if time.time() - start >= seconds:
            GLib.timeout_add(27000, loop.quit)  # the last calls' answers or timeouts
            return False
        while count['sent'] < int((time.time() - start) * rate):
            method, interface, signature, arguments = CALLS[kind][count['sent'] % 4]
            call = dbus.lowlevel.MethodCallMessage(program, target, interface, method)
            if signature:
                call.append(signature=signature, *arguments)
            bus.send_message_with_reply(call, answered, 25.0)
            count['sent'] += 1
        return True

    GLib.timeout_add(5, tick)
    loop.run()
    print('sender %s: %s' % (kind, count), flush=True)


def memory(pid):
    with open('/proc/%d/status' % pid) as status:
        return int([line for line in status if line.startswith('VmRSS')][0].split()[1]) // 1024


def watch(seconds):
    daemon = bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus')
    pid = int(daemon.GetConnectionUnixProcessID(program, dbus_interface='org.freedesktop.DBus'))
    element = bus.get_object(program, target, introspect=False)
    start, slowest, peak = time.time(), 0.0, 0
    while time.time() - start < seconds:
        asked = time.time()
        try:
            element.GetRole(dbus_interface=ACCESSIBLE, timeout=60)
            answer = 'answered'
        except dbus.DBusException as error:
            answer = error.get_dbus_name()
        took = time.time() - asked
        slowest, peak = max(slowest, took), max(peak, memory(pid))
        print('%5.1f s: the reader\'s call %s in %.3f s; the program holds %d MB'
              % (asked - start, answer, took, memory(pid)), flush=True)
        time.sleep(max(0.0, 1 - (time.time() - asked)))
    print('slowest answer %.3f s; memory peak %d MB' % (slowest, peak), flush=True)


if __name__ == '__main__':
    if sys.argv[1] == 'send':
        send(sys.argv[2], int(sys.argv[3]), float(sys.argv[4]))
    else:
        watch(float(sys.argv[2]))
