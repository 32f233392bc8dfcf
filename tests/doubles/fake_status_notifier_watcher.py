#!/usr/bin/python3
"""A StatusNotifierWatcher with a host, as a desktop's panel runs, for the tray tests.

fake_status_notifier_watcher.py LOG    (on the session bus of the environment)
Owns org.kde.StatusNotifierWatcher and says a host is registered, so that
programs show their status icons as StatusNotifierItems. Each item that
registers appends a line "item SENDER PATH" to LOG (PATH from the name the
item gave, "/StatusNotifierItem" when it gave a bus name).
As a panel would, it reads the last item's tooltip and clicks the items of its
menu (com.canonical.dbusmenu), on the test's asking through the interface
org.velmora.TestPanel: ToolTip() gives the tooltip's title, Click(LABEL)
clicks the enabled menu item of that label ("" when there is none such, else
its id as text).
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

LOG = sys.argv[1]
IFACE = "org.kde.StatusNotifierWatcher"
PANEL = "org.velmora.TestPanel"
ITEM = "org.kde.StatusNotifierItem"
INTROSPECTION = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
   <arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg type="s" direction="out"/></method>
 </interface>
</node>"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.items = []

    # The properties must be in the introspection: Qt reads them through it.
    @dbus.service.method("org.freedesktop.DBus.Introspectable", in_signature="",
                         out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(IFACE, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        path = service if service.startswith("/") else "/StatusNotifierItem"
        name = sender if service.startswith("/") else service
        self.items.append(name + path)
        with open(LOG, "a") as log:
            log.write("item %s %s\n" % (sender, path))
        self.StatusNotifierItemRegistered(name + path)

    @dbus.service.method(IFACE, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        pass

    def item(self):
        name, _, path = self.items[-1].partition("/")
        return self.bus.get_object(name, "/" + path)

    def item_property(self, prop):
        return self.item().Get(ITEM, prop, dbus_interface="org.freedesktop.DBus.Properties")

    @dbus.service.method(PANEL, in_signature="", out_signature="s")
    def ToolTip(self):
        if not self.items:
            return ""
        return str(self.item_property("ToolTip")[2])

    @dbus.service.method(PANEL, in_signature="s", out_signature="s")
    def Click(self, label):
        if not self.items:
            return ""
        name = self.items[-1].partition("/")[0]
        menu = self.bus.get_object(name, self.item_property("Menu"))
        _, layout = menu.GetLayout(0, -1, [], dbus_interface="com.canonical.dbusmenu")
        for child in layout[2]:
            id, props = int(child[0]), child[1]
            # The menu marks mnemonics with "_".
            if str(props.get("label", "")).replace("_", "") != label:
                continue
            if not bool(props.get("enabled", True)) or not bool(props.get("visible", True)):
                continue
            menu.AboutToShow(0, dbus_interface="com.canonical.dbusmenu")
            menu.Event(id, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                       dbus_interface="com.canonical.dbusmenu")
            return str(id)
        with open(LOG, "a") as log:
            log.write("no enabled item %r in %r\n" % (label, [dict(c[1]) for c in layout[2]]))
        return ""

    @dbus.service.signal(IFACE, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    def properties(self):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": dbus.Boolean(True),
                "ProtocolVersion": dbus.Int32(0)}

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return self.properties()[prop]

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="s",
                         out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties()


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
session_bus = dbus.SessionBus()
watcher = Watcher(session_bus)
name = dbus.service.BusName(IFACE, session_bus)
GLib.MainLoop().run()
