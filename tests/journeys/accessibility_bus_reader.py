#!/usr/bin/env python3
"""Reads every application's accessible tree over the accessibility bus, again and again, as a
screen reader does: role, state, name, parent, index in it, relations and children of every
element, each child also by its index, and a table's cells by row and column. A reader asks by
a count it read a moment before, and the element may have changed in between: so it also asks
for one child, row and column past the count. Of every text it asks the character, word,
sentence and line at, before and after its edges (the end is where the caret stands after
typing). A request without an answer within a second, from a program that then does not answer
within a minute more either (a busy one does, on a busy machine too), found the program hung:
the reader stops it, with a core to show where, and exits with a failure. An element gone
between two requests is what a reader meets; any other error in answer to a request (an
interface, method or arguments the element says it offers, refused) is a fault: the reader
says which and exits with a failure. It listens to the applications' events, as a screen
reader does, so that they send them. Each walk through a program's windows that ends adds a
line to the file TAMPOD_BUS_READER_WALKS names, where a journey waits for walks.
Runs until it is stopped."""
import os
import signal
import sys
import time

import dbus

ACCESSIBLE = 'org.a11y.atspi.Accessible'
TABLE = 'org.a11y.atspi.Table'
TEXT = 'org.a11y.atspi.Text'
PROPERTIES = 'org.freedesktop.DBus.Properties'
NO_REPLY = 'org.freedesktop.DBus.Error.NoReply'
SERVICE_UNKNOWN = 'org.freedesktop.DBus.Error.ServiceUnknown'
# What a program answers for an element that is gone.
GONE = 'org.freedesktop.DBus.Error.UnknownObject'
# AT-SPI's text boundaries: a character, the start and end of a word, a sentence and a line.
BOUNDARIES = range(7)
# A program answers at once; one that says nothing within a second is asked whether it lives.
ANSWER_WITHIN = 1.0
ALIVE_WITHIN = 60.0


class Unanswered(Exception):
    """A request that had no answer within a second, named."""


class Refused(Exception):
    """A request an element refused though it offers what was asked, named."""


class Element:
    """An element of a program on the bus, every request to which must be answered within a
    second."""

    def __init__(self, bus, name, path):
        self.name = name
        self.path = path
        self.label = ''  # its role and name, once read
        self.proxy = bus.get_object(name, path, introspect=False)

    def ask(self, interface, method, *arguments):
        try:
            return self.proxy.get_dbus_method(method, interface)(*arguments, timeout=ANSWER_WITHIN)
        except dbus.exceptions.DBusException as error:
            asked = '%s%s of %s %s %s' % (method, tuple(arguments), self.label, self.name, self.path)
            if error.get_dbus_name() == NO_REPLY and 'disconnected' not in str(error):
                raise Unanswered(asked + ' had no answer within a second') from error
            # An element gone, or a program gone, is what a reader meets; anything else refused
            # a question the element says it answers.
            if error.get_dbus_name() not in (GONE, NO_REPLY, SERVICE_UNKNOWN):
                raise Refused('%s was refused: %s: %s' % (asked, error.get_dbus_name(), error.get_dbus_message()))
            # An element said to be gone that still answers was not gone: a refusal in disguise.
            if error.get_dbus_name() == GONE and self.answers():
                raise Refused('%s was answered %s: %s, yet the element answers' % (asked, GONE, error.get_dbus_message()))
            raise

    def answers(self):
        try:
            self.proxy.GetRole(dbus_interface=ACCESSIBLE, timeout=ALIVE_WITHIN)
            return True
        except dbus.exceptions.DBusException:
            return False

    def get(self, interface, name):
        return self.ask(PROPERTIES, 'Get', interface, name)


def connect():
    session = dbus.SessionBus()
    address = session.get_object('org.a11y.Bus', '/org/a11y/bus').GetAddress(dbus_interface='org.a11y.Bus')
    return dbus.bus.BusConnection(address)


def read(bus, name, path, seen):
    if path.endswith('/null') or (name, path) in seen or len(seen) > 5000:
        return
    seen.add((name, path))
    element = Element(bus, name, path)
    try:
        for question in ('GetRole', 'GetState', 'GetRelationSet', 'GetIndexInParent'):
            element.ask(ACCESSIBLE, question)
        interfaces = element.ask(ACCESSIBLE, 'GetInterfaces')
        element.label = '%s "%s"' % (element.ask(ACCESSIBLE, 'GetRoleName'), element.get(ACCESSIBLE, 'Name'))
        element.get(ACCESSIBLE, 'Parent')
        children = element.ask(ACCESSIBLE, 'GetChildren')
        count = int(element.get(ACCESSIBLE, 'ChildCount'))
        for index in list(range(min(count, 24))) + [count]:
            element.ask(ACCESSIBLE, 'GetChildAtIndex', index)
        if TABLE in interfaces:
            # As a reader reads what shows: a table's first rows, not every cell of it.
            children = children[:read_cells(element)]
        if TEXT in interfaces:
            read_text(element)
    except dbus.exceptions.DBusException as error:
        # An element gone between two requests is what a reader meets; a program gone is not.
        if error.get_dbus_name() != GONE:
            raise
        return
    for child in children:
        read(bus, str(child[0]), str(child[1]), seen)


def read_cells(table):
    rows = int(table.get(TABLE, 'NRows'))
    columns = int(table.get(TABLE, 'NColumns'))
    # The first rows and the row past the last; every column and the one past it.
    for row in list(range(min(rows, 3))) + [rows]:
        for column in range(columns + 1):
            for question in ('IsSelected', 'GetRowExtentAt', 'GetColumnExtentAt'):
                table.ask(TABLE, question, row, column)
    for index in list(range(min(rows, 3) * columns)) + [rows * columns]:
        table.ask(TABLE, 'GetRowColumnExtentsAtIndex', index)
    return min(rows, 3) * columns


def read_text(text):
    """The character, and the word, sentence and line at, before and after every edge of the
    text: where the caret stands after typing, a reader asks at the end."""
    count = int(text.get(TEXT, 'CharacterCount'))
    for offset in (-1, 0, count - 1, count, count + 1):
        text.ask(TEXT, 'GetCharacterAtOffset', offset)
        for boundary in BOUNDARIES:
            for question in ('GetTextAtOffset', 'GetTextBeforeOffset', 'GetTextAfterOffset'):
                text.ask(TEXT, question, offset, dbus.UInt32(boundary))


def alive(bus, name, path):
    """Whether a program that left a request unanswered answers at all: one busy for a moment
    answers later, one that hangs never does. A program gone is no hang."""
    try:
        bus.get_object(name, path, introspect=False).GetRole(dbus_interface=ACCESSIBLE, timeout=ALIVE_WITHIN)
        return True
    except dbus.exceptions.DBusException as error:
        return error.get_dbus_name() != NO_REPLY or 'disconnected' in str(error)


def stop(bus, name):
    """Stops a program that hangs, with a core that shows where."""
    try:
        daemon = bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus')
        pid = int(daemon.GetConnectionUnixProcessID(name, dbus_interface='org.freedesktop.DBus'))
        os.kill(pid, signal.SIGABRT)
    except (dbus.exceptions.DBusException, OSError) as error:
        print('accessibility bus reader: could not stop %s: %s' % (name, error), file=sys.stderr)


def read_windows(bus, name, path):
    """The application and its windows, the newest first: a sheet is read while it is open."""
    seen = {(name, path)}
    application = Element(bus, name, path)
    for window in reversed(application.ask(ACCESSIBLE, 'GetChildren')):
        read(bus, str(window[0]), str(window[1]), seen)


def walked(name):
    """Tells the programs under test that a walk through one program's windows ended."""
    log = os.environ.get('TAMPOD_BUS_READER_WALKS')
    if log:
        with open(log, 'a', encoding='utf-8') as walks:
            walks.write(name + '\n')


def listen(bus):
    registry = bus.get_object('org.a11y.atspi.Registry', '/org/a11y/atspi/registry')
    for event in ('object:', 'window:', 'focus:'):
        registry.RegisterEvent(event, dbus.Array([], signature='s'), '', dbus_interface='org.a11y.atspi.Registry')


def main():
    period = float(sys.argv[1]) if len(sys.argv) > 1 else 0.25
    bus = connect()
    listen(bus)
    while True:
        try:
            root = bus.get_object('org.a11y.atspi.Registry', '/org/a11y/atspi/accessible/root', introspect=False)
            for application in root.GetChildren(dbus_interface=ACCESSIBLE):
                name, path = str(application[0]), str(application[1])
                try:
                    read_windows(bus, name, path)
                    walked(name)
                except dbus.exceptions.DBusException:
                    pass
                except Refused as refused:
                    print('accessibility bus reader: %s' % refused, file=sys.stderr)
                    sys.exit(1)
                except Unanswered as unanswered:
                    if alive(bus, name, path):
                        continue
                    print('accessibility bus reader: %s, nor within %d seconds more: stopping it'
                          % (unanswered, ALIVE_WITHIN), file=sys.stderr)
                    stop(bus, name)
                    sys.exit(1)
        except dbus.exceptions.DBusException:
            pass
        time.sleep(period)

if __name__ == '__main__':
    main()
