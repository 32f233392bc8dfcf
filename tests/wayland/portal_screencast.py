#!/usr/bin/python3
"""Inside the headless Wayland session: the ScreenCast portal hands out a
monitor stream without a dialog, PipeWire has its node, and a screenshot
shows the colour client where the compositor placed it.

Run as the session's user (DIR/in-session). Exit status 0 when all holds.
"""
import os
import subprocess
import sys

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

TIMEOUT_S = 15
DESKTOP = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


class Portal:
    def __init__(self):
        dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
        self.bus = dbus.SessionBus()
        self.cast = dbus.Interface(self.bus.get_object(DESKTOP, PATH),
                                   "org.freedesktop.portal.ScreenCast")
        self.sender = self.bus.get_unique_name()[1:].replace(".", "_")
        self.serial = 0

    def request(self, method, *args):
        """Calls a method that answers through a Request's Response signal."""
        self.serial += 1
        token = "velmora%d" % self.serial
        path = "/org/freedesktop/portal/desktop/request/%s/%s" % (self.sender, token)
        loop = GLib.MainLoop()
        answer = {}

        def on_response(code, results):
            answer["code"] = int(code)
            answer["results"] = results
            loop.quit()

        match = self.bus.add_signal_receiver(
            on_response, "Response", "org.freedesktop.portal.Request", DESKTOP, path)
        options = dict(args[-1])
        options["handle_token"] = token
        getattr(self.cast, method)(*args[:-1], options)
        GLib.timeout_add_seconds(TIMEOUT_S, loop.quit)
        loop.run()
        match.remove()
        if "code" not in answer:
            fail("%s: no answer within %d s" % (method, TIMEOUT_S))
        if answer["code"] != 0:
            fail("%s answered %d" % (method, answer["code"]))
        return answer["results"]


def screencast():
    portal = Portal()
    props = dbus.Interface(portal.bus.get_object(DESKTOP, PATH),
                           "org.freedesktop.DBus.Properties")
    types = int(props.Get("org.freedesktop.portal.ScreenCast", "AvailableSourceTypes"))
    if not types & 1:
        fail("the portal offers no monitor source (types %d)" % types)
    results = portal.request("CreateSession", {"session_handle_token": "velmoratest"})
    session = results["session_handle"]
    portal.request("SelectSources", session, {"types": dbus.UInt32(1), "multiple": False})
    results = portal.request("Start", session, "", {})
    streams = results.get("streams", [])
    if len(streams) != 1:
        fail("Start gave %d streams" % len(streams))
    node, stream_props = streams[0]
    size = tuple(int(v) for v in stream_props.get("size", (0, 0)))
    if size != (1280, 720):
        fail("the stream's size is %s, not 1280x720" % (size,))
    fd = portal.cast.OpenPipeWireRemote(session, {})
    fd = fd.take()
    if fd < 0:
        fail("OpenPipeWireRemote gave no descriptor")
    os.close(fd)
    nodes = subprocess.run(["pw-cli", "info", str(int(node))], capture_output=True,
                           text=True, timeout=10).stdout
    if "Video/Source" not in nodes:
        fail("PipeWire has no video source node %d:\n%s" % (node, nodes))
    print("ScreenCast: node %d, %dx%d" % (node, size[0], size[1]))


def read_ppm(data):
    # grim's PPM: "P6\n<w> <h>\n255\n" then RGB bytes.
    parts = data.split(b"\n", 3)
    if parts[0] != b"P6":
        fail("grim gave no P6 picture")
    w, h = (int(v) for v in parts[1].split())
    return w, h, parts[3]


def screenshot():
    rect = os.environ.get("VELMORA_WL_CLIENT_RECT", "")
    colour = os.environ.get("VELMORA_WL_CLIENT_COLOUR", "")
    background = os.environ["VELMORA_WL_BACKGROUND"]
    data = subprocess.run(["grim", "-t", "ppm", "-"], capture_output=True, timeout=10,
                          check=True).stdout
    w, h, pixels = read_ppm(data)
    if (w, h) != (1280, 720):
        fail("the screenshot is %dx%d" % (w, h))

    def at(x, y):
        i = (y * w + x) * 3
        return "#%02x%02x%02x" % tuple(pixels[i:i + 3])

    if at(5, 700) != background:
        fail("the background is %s, not %s" % (at(5, 700), background))
    if rect:
        x, y, cw, ch = (int(v) for v in rect.split(","))
        for px, py in ((x + cw // 2, y + ch // 2), (x + 20, y + ch - 2), (x + cw - 2, y + 20)):
            if at(px, py) != colour:
                fail("the client's pixel at %d,%d is %s, not %s" % (px, py, at(px, py), colour))
        if at(x + cw + 2, y + ch // 2) != background:
            fail("the client reaches past %d,%d" % (x + cw, y))
    print("screenshot: background and client as placed")


if __name__ == "__main__":
    screencast()
    screenshot()
