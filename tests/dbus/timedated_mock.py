'''A time service for the tests: SetTime checks its argument types, is
logged by dbusmock, and can fail or answer late on request.

Parameters (JSON, -p): "SetTimeError" and "SetTimeMessage" make SetTime fail
with that D-Bus error; "SetTimeDelay" (seconds) delays its answer.
'''

import dbus

BUS_NAME = 'org.freedesktop.timedate1'
MAIN_OBJ = '/org/freedesktop/timedate1'
MAIN_IFACE = 'org.freedesktop.timedate1'
SYSTEM_BUS = True


def load(mock, parameters):
    error = parameters.get('SetTimeError', '')
    message = parameters.get('SetTimeMessage', '')
    delay = float(parameters.get('SetTimeDelay', 0))
    code = f'''
import time
if not (isinstance(args[0], dbus.Int64) and isinstance(args[1], dbus.Boolean)
        and isinstance(args[2], dbus.Boolean)):
    raise dbus.exceptions.DBusException('SetTime takes (xbb)',
                                        name='org.freedesktop.DBus.Error.InvalidArgs')
if {delay!r} > 0:
    time.sleep({delay!r})
if {error!r}:
    raise dbus.exceptions.DBusException({message!r}, name={error!r})
'''
    mock.AddMethods(MAIN_IFACE, [('SetTime', 'xbb', '', code)])
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'Timezone': parameters.get('Timezone', 'Etc/UTC'),
        'NTP': bool(parameters.get('NTP', False)),
        'CanNTP': True,
    }, signature='sv'))
