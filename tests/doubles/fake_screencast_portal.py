#!/usr/bin/python3
"""A ScreenCast portal that answers Start as told, for the handshake's tests.

fake_screencast_portal.py MODE[:monitors] [LOG]    (on the session bus of the environment)
  refuse   Start answers 2 (the permission was refused)
  cancel   Start answers 1 (the user cancelled the dialog)
  silent   Start never answers
  slow     Start answers 2 after 1.5 s (a user taking time to refuse)
It offers monitors and windows as sources; with ":monitors" monitors only,
as xdg-desktop-portal-wlr does.
CreateSession and SelectSources always answer 0, on the Request path the
caller's handle_token predicts. With LOG, each call's method name is
appended to that file as a line, so a test can count the handshakes
(SelectSources with the cursor mode asked for, then a line with the source
types and one with the restore token, when given).
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

MODE, _, SOURCES = sys.argv[1].partition(":")
SOURCE_TYPES = 1 if SOURCES == "monitors" else 3
LOG = sys.argv[2] if len(sys.argv) > 2 else None


def logged(method):
    if LOG:
        with open(LOG, "a") as log:
            log.write(method + "\n")
IFACE = "org.freedesktop.portal.ScreenCast"


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, code, results):
        pass

    @dbus.service.method("org.freedesktop.portal.Request")
    def Close(self):
        pass


class Portal(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.bus = bus
        self.requests = []

    def answer(self, sender, options, code, results, delay=0):
        name = sender[1:].replace(".", "_")
        path = "/org/freedesktop/portal/desktop/request/%s/%s" % (name, options["handle_token"])
        request = Request(self.bus, path)
        self.requests.append(request)
        if code is not None:
            GLib.timeout_add(delay, lambda: request.Response(dbus.UInt32(code), results) and False)
        return dbus.ObjectPath(path)

    @dbus.service.method(IFACE, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        logged("CreateSession")
        return self.answer(sender, options, 0,
                           {"session_handle": "/org/freedesktop/portal/desktop/session/fake/1"})

    @dbus.service.method(IFACE, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def SelectSources(self, session, options, sender=None):
        logged("SelectSources:cursor_mode=%d" % int(options.get("cursor_mode", 0)))
        logged("SelectSources:types=%d" % int(options.get("types", 0)))
        if "restore_token" in options:
            logged("SelectSources:restore_token=%s" % options["restore_token"])
        return self.answer(sender, options, 0, {})

    @dbus.service.method(IFACE, in_signature="osa{sv}", out_signature="o", sender_keyword="sender")
    def Start(self, session, parent, options, sender=None):
        logged("Start")
        code = {"refuse": 2, "cancel": 1, "silent": None, "slow": 2}[MODE]
        return self.answer(sender, options, code, {}, 1500 if MODE == "slow" else 0)

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return dbus.UInt32({"version": 4, "AvailableCursorModes": 7,
                            "AvailableSourceTypes": SOURCE_TYPES}.get(prop, 0))


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
session_bus = dbus.SessionBus()
portal = Portal(session_bus)
name = dbus.service.BusName("org.freedesktop.portal.Desktop", session_bus)
GLib.MainLoop().run()
