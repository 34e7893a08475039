#!/usr/bin/env python3
"""Reads every application's accessible tree over the accessibility bus, again and again, as a
screen reader does: role, state, name, parent, index in it, relations and children of every
element, each child also by its index, and a table's cells by row and column. A reader asks by
a count it read a moment before, and the element may have changed in between: so it also asks
for one child, row and column past the count. It listens to the applications' events, as a
screen reader does, so that they send them. Runs until it is stopped."""
import sys
import time

import dbus

ACCESSIBLE = 'org.a11y.atspi.Accessible'
TABLE = 'org.a11y.atspi.Table'
PROPERTIES = 'org.freedesktop.DBus.Properties'


def connect():
    session = dbus.SessionBus()
    address = session.get_object('org.a11y.Bus', '/org/a11y/bus').GetAddress(dbus_interface='org.a11y.Bus')
    return dbus.bus.BusConnection(address)


def read(bus, name, path, seen):
    if path.endswith('/null') or (name, path) in seen or len(seen) > 5000:
        return
    seen.add((name, path))
    element = bus.get_object(name, path, introspect=False)
    try:
        element.GetRole(dbus_interface=ACCESSIBLE)
        element.GetState(dbus_interface=ACCESSIBLE)
        element.GetRelationSet(dbus_interface=ACCESSIBLE)
        element.GetIndexInParent(dbus_interface=ACCESSIBLE)
        interfaces = element.GetInterfaces(dbus_interface=ACCESSIBLE)
        element.Get(ACCESSIBLE, 'Name', dbus_interface=PROPERTIES)
        element.Get(ACCESSIBLE, 'Parent', dbus_interface=PROPERTIES)
        children = element.GetChildren(dbus_interface=ACCESSIBLE)
        count = int(element.Get(ACCESSIBLE, 'ChildCount', dbus_interface=PROPERTIES))
        for index in list(range(min(count, 24))) + [count]:
            element.GetChildAtIndex(index, dbus_interface=ACCESSIBLE)
        if TABLE in interfaces:
            # As a reader reads what shows: a table's first rows, not every cell of it.
            children = children[:read_cells(element)]
    except dbus.exceptions.DBusException as error:
        # An element gone between two requests is what a reader meets; a program gone is not.
        if error.get_dbus_name() in ('org.freedesktop.DBus.Error.NoReply',
                                     'org.freedesktop.DBus.Error.ServiceUnknown'):
            raise
        return
    for child in children:
        read(bus, str(child[0]), str(child[1]), seen)


def read_cells(table):
    rows = int(table.Get(TABLE, 'NRows', dbus_interface=PROPERTIES))
    columns = int(table.Get(TABLE, 'NColumns', dbus_interface=PROPERTIES))
    # The first rows and the row past the last; every column and the one past it.
    for row in list(range(min(rows, 3))) + [rows]:
        for column in range(columns + 1):
            table.IsSelected(row, column, dbus_interface=TABLE)
            table.GetRowExtentAt(row, column, dbus_interface=TABLE)
            table.GetColumnExtentAt(row, column, dbus_interface=TABLE)
    for index in list(range(min(rows, 3) * columns)) + [rows * columns]:
        table.GetRowColumnExtentsAtIndex(index, dbus_interface=TABLE)
    return min(rows, 3) * columns


def read_windows(bus, name, path):
    """The application and its windows, the newest first: a sheet is read while it is open."""
    seen = {(name, path)}
    application = bus.get_object(name, path, introspect=False)
    for window in reversed(application.GetChildren(dbus_interface=ACCESSIBLE)):
        read(bus, str(window[0]), str(window[1]), seen)


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
                try:
                    read_windows(bus, str(application[0]), str(application[1]))
                except dbus.exceptions.DBusException:
                    pass
        except dbus.exceptions.DBusException:
            pass
        time.sleep(period)


if __name__ == '__main__':
    main()
