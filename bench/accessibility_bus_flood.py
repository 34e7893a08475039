#!/usr/bin/env python3
"""Floods a running tamPOD on the accessibility bus with calls and watches what a screen reader
meets meanwhile: its own call's answer time once a second and the program's memory.

usage (in the program's session, the program started with the accessibility bus on;
accessibility_bus_flood.sh makes the session and runs the whole measurement):
  accessibility_bus_flood.py watch SECONDS [PERIOD]  the reader: one GetRole each PERIOD (0.25 s)
  accessibility_bus_flood.py send KIND RATE SECONDS [CONNECTIONS]
                       callers on CONNECTIONS connections (1), each RATE calls a second, each
                       awaited until 30 s after the flood
  accessibility_bus_flood.py play                    presses the program's Play button
KIND: light (texts, roles, children), odd (bounded ranges, all properties, a range to the largest
offset, states) or heavy (all properties, introspection, relations). Two senders and one
watcher at once make the flood of the measurement: each sender prints its calls answered,
refused and unanswered, and whether every call had its answer within 30 s after the flood; the
watcher prints the slowest answer and the memory's peak. GOAL lines say what was met."""
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
address = str(session.get_object('org.a11y.Bus', '/org/a11y/bus').GetAddress(dbus_interface='org.a11y.Bus'))
bus = dbus.bus.BusConnection(address)
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


# Every call of a flood has its answer, an error at worst, within this long after the flood.
ANSWERED_WITHIN = 30.0


def send(kind, rate, seconds, connections=1):
    count = {'sent': 0, 'answered': 0, 'refused': 0, 'unanswered': 0}
    refusals = {}
    start = time.time()
    loop = GLib.MainLoop()
    # The first connection is the one the target was found on; the others are callers of their own.
    buses = [bus] + [dbus.bus.BusConnection(address) for _ in range(connections - 1)]
    sent = [0] * connections
    # The calls without an answer yet, by connection and serial: counted by a filter rather than
    # each awaited with a timeout of its own, which the main loop would go through at every turn.
    waiting = set()

    def answered(connection, reply):
        key = (id(connection), reply.get_reply_serial())
        if key not in waiting:
            return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED
        waiting.remove(key)
        if isinstance(reply, dbus.lowlevel.ErrorMessage):
            count['refused'] += 1
            refusals[reply.get_error_name()] = refusals.get(reply.get_error_name(), 0) + 1
        else:
            count['answered'] += 1
        if not waiting and time.time() - start >= seconds:
            loop.quit()
        return dbus.lowlevel.HANDLER_RESULT_HANDLED

    def tick():
        now = time.time()
        if now - start >= seconds:
            GLib.timeout_add(int(ANSWERED_WITHIN * 1000), loop.quit)  # the last answers, or none
            return False
        for index, connection in enumerate(buses):
            while sent[index] < int((now - start) * rate):
                method, interface, signature, arguments = CALLS[kind][sent[index] % 4]
                call = dbus.lowlevel.MethodCallMessage(program, target, interface, method)
                if signature:
                    call.append(signature=signature, *arguments)
                waiting.add((id(connection), connection.send_message(call)))
                sent[index] += 1
                count['sent'] += 1
        return True

    for connection in buses:
        connection.add_message_filter(answered)
    GLib.timeout_add(5, tick)
    loop.run()
    count['unanswered'] = len(waiting)
    print('sender %s on %d connections: %s, refused as %s' % (kind, connections, count, refusals), flush=True)
    print('GOAL sender %s: every call answered within %d s after the flood: %s'
          % (kind, ANSWERED_WITHIN, 'met' if count['unanswered'] == 0 else 'MISSED'), flush=True)


def memory(pid):
    with open('/proc/%d/status' % pid) as status:
        return int([line for line in status if line.startswith('VmRSS')][0].split()[1]) // 1024


# What a reader may meet under a flood.
SLOWEST_GOAL = 2.0
MEMORY_GOAL = 120


def watch(seconds, period=0.25):
    daemon = bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus')
    pid = int(daemon.GetConnectionUnixProcessID(program, dbus_interface='org.freedesktop.DBus'))
    element = bus.get_object(program, target, introspect=False)
    start, slowest, peak, failed = time.time(), 0.0, 0, 0
    while time.time() - start < seconds:
        asked = time.time()
        try:
            element.GetRole(dbus_interface=ACCESSIBLE, timeout=60)
            answer = 'answered'
        except dbus.DBusException as error:
            answer = error.get_dbus_name()
            failed += 1
        took = time.time() - asked
        slowest, peak = max(slowest, took), max(peak, memory(pid))
        if took > 0.5 or answer != 'answered' or int(asked - start) != int(asked - start - period):
            print('%5.1f s: the reader\'s call %s in %.3f s; the program holds %d MB'
                  % (asked - start, answer, took, memory(pid)), flush=True)
        time.sleep(max(0.0, period - (time.time() - asked)))
    print('slowest answer %.3f s; memory peak %d MB; calls not answered %d' % (slowest, peak, failed), flush=True)
    print('GOAL the reader\'s slowest call <= %.0f s, each answered: %s'
          % (SLOWEST_GOAL, 'met' if slowest <= SLOWEST_GOAL and failed == 0 else 'MISSED'), flush=True)
    print('GOAL memory <= %d MB: %s' % (MEMORY_GOAL, 'met' if peak <= MEMORY_GOAL else 'MISSED'), flush=True)


def play():
    bus.get_object(program, find('Play'), introspect=False).DoAction(0, dbus_interface='org.a11y.atspi.Action')


if __name__ == '__main__':
    if sys.argv[1] == 'send':
        send(sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]) if len(sys.argv) > 5 else 1)
    elif sys.argv[1] == 'play':
        play()
    else:
        watch(float(sys.argv[2]), float(sys.argv[3]) if len(sys.argv) > 3 else 0.25)
