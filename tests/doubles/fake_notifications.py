#!/usr/bin/python3
"""A notification service and a file manager, for the saved-recording tests.

fake_notifications.py LOG [ACTION]    (on the session bus of the environment)
Owns org.freedesktop.Notifications and org.freedesktop.FileManager1. Each
Notify appends a JSON line {"call": "Notify", "app", "summary", "body",
"actions"} to LOG and answers with a new id; with ACTION, that action of the
notification is invoked half a second later, as a click on its button does.
ShowItems appends {"call": "ShowItems", "uris"}.
"""
import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

LOG = sys.argv[1]
ACTION = sys.argv[2] if len(sys.argv) > 2 else None
IFACE = "org.freedesktop.Notifications"


def logged(entry):
    with open(LOG, "a") as log:
        log.write(json.dumps(entry) + "\n")


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.last = 0

    @dbus.service.method(IFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.last += 1
        logged({"call": "Notify", "app": str(app), "summary": str(summary), "body": str(body),
                "actions": [str(a) for a in actions]})
        if ACTION:
            sent = self.last
            GLib.timeout_add(500, lambda: self.ActionInvoked(dbus.UInt32(sent), ACTION) and False)
        return dbus.UInt32(self.last)

    @dbus.service.method(IFACE, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.method(IFACE, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ["fake", "velmora-tests", "1", "1.2"]

    @dbus.service.method(IFACE, in_signature="u", out_signature="")
    def CloseNotification(self, id):
        self.NotificationClosed(id, dbus.UInt32(3))

    @dbus.service.signal(IFACE, signature="us")
    def ActionInvoked(self, id, action):
        pass

    @dbus.service.signal(IFACE, signature="uu")
    def NotificationClosed(self, id, reason):
        pass


class FileManager(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/FileManager1")

    @dbus.service.method("org.freedesktop.FileManager1", in_signature="ass", out_signature="")
    def ShowItems(self, uris, startup):
        logged({"call": "ShowItems", "uris": [str(u) for u in uris]})


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
session_bus = dbus.SessionBus()
notifications = Notifications(session_bus)
manager = FileManager(session_bus)
names = [dbus.service.BusName("org.freedesktop.FileManager1", session_bus),
         dbus.service.BusName(IFACE, session_bus)]
GLib.MainLoop().run()
