'''dbusmock's own timedated template, with SetTime refusing while NTP is
on, as systemd-timedated does: a desktop whose automatic time is on.'''

import dbus
from dbusmock.templates.timedated import BUS_NAME, MAIN_IFACE, MAIN_OBJ, SYSTEM_BUS  # noqa: F401
from dbusmock.templates.timedated import load as load_stock


def load(mock, parameters):
    load_stock(mock, parameters)
    mock.AddMethod(MAIN_IFACE, 'SetTime', 'xbb', '', f'''
if self.Get({MAIN_IFACE!r}, 'NTP'):
    raise dbus.exceptions.DBusException(
        'Automatic time synchronization is enabled',
        name='org.freedesktop.timedate1.AutomaticTimeSyncEnabled')
''')
