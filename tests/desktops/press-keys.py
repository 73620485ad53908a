#!/usr/bin/python3
# Presses keys "on the desktop" through a RemoteDesktop portal session of its own, as another keyboard would:
# every key named is pressed in order, then all are released in reverse order (a chord: Control_L Alt_L d),
# each call awaited. Exits 0 once the desktop took every call.
#
#   press-keys.py Control_L Alt_L d
import sys

import gi

gi.require_version("Gdk", "4.0")
from gi.repository import Gdk, Gio, GLib  # noqa: E402 - after the version it needs

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
portal = "org.freedesktop.portal.Desktop"
path = "/org/freedesktop/portal/desktop"
interface = "org.freedesktop.portal.RemoteDesktop"
sender = bus.get_unique_name()[1:].replace(".", "_")
loop = GLib.MainLoop()
counter = [0]


def request(method, arguments, options):
    counter[0] += 1
    token = "tellwind_keys%d" % counter[0]
    handle = "/org/freedesktop/portal/desktop/request/%s/%s" % (sender, token)
    answer = {}

    def on_response(_c, _s, _p, _i, _sig, parameters):
        answer["code"], answer["results"] = parameters.unpack()
        loop.quit()

    sub = bus.signal_subscribe(portal, "org.freedesktop.portal.Request", "Response", handle, None,
                               Gio.DBusSignalFlags.NONE, on_response)
    options = dict(options)
    options["handle_token"] = GLib.Variant("s", token)
    bus.call_sync(portal, path, interface, method, GLib.Variant(arguments[0], arguments[1] + (options,)),
                  None, Gio.DBusCallFlags.NONE, 60000, None)
    GLib.timeout_add_seconds(60, loop.quit)
    loop.run()
    bus.signal_unsubscribe(sub)
    if answer.get("code") != 0:
        sys.exit("%s was refused: %r" % (method, answer))
    return answer["results"]


created = request("CreateSession", ("(a{sv})", ()),
                  {"session_handle_token": GLib.Variant("s", "tellwind_keys")})
session = created["session_handle"]
request("SelectDevices", ("(oa{sv})", (session,)), {"types": GLib.Variant("u", 1)})
request("Start", ("(osa{sv})", (session, "")), {})

keysyms = [Gdk.keyval_from_name(name) for name in sys.argv[1:]]


def notify(keysym, state):
    bus.call_sync(portal, path, interface, "NotifyKeyboardKeysym",
                  GLib.Variant("(oa{sv}iu)", (session, {}, keysym, state)), None, Gio.DBusCallFlags.NONE, 10000,
                  None)


for keysym in keysyms:
    notify(keysym, 1)
for keysym in reversed(keysyms):
    notify(keysym, 0)
bus.call_sync(portal, session, "org.freedesktop.portal.Session", "Close", None, None, Gio.DBusCallFlags.NONE,
              10000, None)
