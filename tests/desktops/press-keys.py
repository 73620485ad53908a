#!/usr/bin/python3
# Presses keys "on the desktop" through a RemoteDesktop portal session of its own, as another keyboard would:
# each key named pressed in order, then all released in reverse (a chord), each call awaited. Exits 0 once the
# desktop took every call.
#
#   press-keys.py Control_L Alt_L d
import sys

import gi

gi.require_version("Gdk", "4.0")
from gi.repository import Gdk, Gio, GLib  # noqa: E402 - after the version it needs

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
portal, path = "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop"
interface = "org.freedesktop.portal.RemoteDesktop"
sender = bus.get_unique_name()[1:].replace(".", "_")
loop = GLib.MainLoop()


def call(method, signature, arguments, timeout=10000, target=path, name=interface):
    return bus.call_sync(portal, target, name, method, GLib.Variant(signature, arguments) if signature else None,
                         None, Gio.DBusCallFlags.NONE, timeout, None)


def request(method, signature, arguments, options):
    token = "tellwind_keys_" + method
    answer = {}

    def on_response(*signal):
        answer["code"], answer["results"] = signal[-1].unpack()
        loop.quit()

    handle = "%s/request/%s/%s" % (path, sender, token)
    sub = bus.signal_subscribe(portal, "org.freedesktop.portal.Request", "Response", handle, None,
                               Gio.DBusSignalFlags.NONE, on_response)
    call(method, signature, arguments + (dict(options, handle_token=GLib.Variant("s", token)),), 60000)
    GLib.timeout_add_seconds(60, loop.quit)
    loop.run()
    bus.signal_unsubscribe(sub)
    if answer.get("code") != 0:
        sys.exit("%s was refused: %r" % (method, answer))
    return answer["results"]


created = request("CreateSession", "(a{sv})", (), {"session_handle_token": GLib.Variant("s", "tellwind_keys")})
session = created["session_handle"]
request("SelectDevices", "(oa{sv})", (session,), {"types": GLib.Variant("u", 1)})
request("Start", "(osa{sv})", (session, ""), {})
keysyms = [Gdk.keyval_from_name(name) for name in sys.argv[1:]]
for keysym, state in [(k, 1) for k in keysyms] + [(k, 0) for k in reversed(keysyms)]:
    call("NotifyKeyboardKeysym", "(oa{sv}iu)", (session, {}, keysym, state))
call("Close", None, None, target=session, name="org.freedesktop.portal.Session")
