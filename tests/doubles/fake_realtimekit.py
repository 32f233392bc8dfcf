#!/usr/bin/python3
"""A RealtimeKit daemon that grants or refuses, for the real-time tests.

fake_realtimekit.py MODE LOG    (on the bus DBUS_SYSTEM_BUS_ADDRESS names)
  grant    MakeThreadRealtime answers at once
  refuse   it answers org.freedesktop.DBus.Error.AccessDenied
  silent   it answers after 5 s, later than any caller waits
Each request appends "thread priority rttime-soft rttime-hard" to LOG, the
limits read from the caller's /proc entry at the moment of the request.
"""
import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

MODE, LOG = sys.argv[1], sys.argv[2]
IFACE = "org.freedesktop.RealtimeKit1"


class Denied(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.DBus.Error.AccessDenied"


def rttime_of(pid):
    with open("/proc/%d/limits" % pid) as limits:
        for line in limits:
            if line.startswith("Max realtime timeout"):
                return line.split()[3:5]
    return ["?", "?"]


class Kit(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/RealtimeKit1")
        self.bus = bus

    @dbus.service.method(IFACE, in_signature="tu", out_signature="", sender_keyword="sender")
    def MakeThreadRealtime(self, thread, priority, sender=None):
        daemon = self.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
        pid = int(dbus.Interface(daemon, "org.freedesktop.DBus").GetConnectionUnixProcessID(sender))
        with open(LOG, "a") as log:
            log.write("%d %d %s\n" % (thread, priority, " ".join(rttime_of(pid))))
        if MODE == "silent":
            time.sleep(5)
        if MODE == "refuse":
            raise Denied("Operation not permitted")

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        if prop == "RTTimeUSecMax":
            return dbus.Int64(200000)
        return dbus.Int32({"MaxRealtimePriority": 20, "MinNiceLevel": -15}.get(prop, 0))


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SystemBus()
kit = Kit(bus)
name = dbus.service.BusName(IFACE, bus)
GLib.MainLoop().run()
