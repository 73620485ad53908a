#!/usr/bin/python3
"""A scripted xdg-desktop-portal (RemoteDesktop, GlobalShortcuts) answering as the test tells it through
org.tellwind.Test. Prints "ready" once it owns its name; ends when its standard input closes. Mode "reorder"
lets a key call overtake an unanswered one, as the real portal's worker threads do; "fail-key:N" refuses the
Nth key call from then on."""
import sys

from gi.repository import Gio, GLib

DESKTOP = "/org/freedesktop/portal/desktop"

def method(name, *args):
    """A method's XML; each argument "type" (in) or ">type" (out)."""
    return '<method name="%s">%s</method>' % (name, "".join(
        '<arg type="%s" direction="%s"/>' % ((arg[1:], "out") if arg[0] == ">" else (arg, "in")) for arg in args))


def interface(name, *members):
    return '<interface name="%s">%s</interface>' % (name, "".join(members))


VERSION = '<property name="version" type="u" access="read"/>'
SIGNAL = '<signal name="%s"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>'
XML = "<node>%s</node>" % "".join([
    interface("org.freedesktop.portal.RemoteDesktop", method("CreateSession", "a{sv}", ">o"),
              method("SelectDevices", "o", "a{sv}", ">o"), method("Start", "o", "s", "a{sv}", ">o"),
              method("NotifyKeyboardKeysym", "o", "a{sv}", "i", "u"), VERSION,
              '<property name="AvailableDeviceTypes" type="u" access="read"/>'),
    interface("org.freedesktop.portal.GlobalShortcuts", method("CreateSession", "a{sv}", ">o"),
              method("BindShortcuts", "o", "a(sa{sv})", "s", "a{sv}", ">o"),
              SIGNAL % "Activated", SIGNAL % "Deactivated", VERSION),
    interface("org.tellwind.Test", method("SetMode", "s"), method("Keysyms", ">as"), method("Calls", ">as"),
              method("Activate", "s"), method("MaxInFlight", ">u"))])
SESSION_XML = "<node>%s</node>" % interface("org.freedesktop.portal.Session", method("Close"),
                                             '<signal name="Closed"><arg type="a{sv}"/></signal>')


def sender_part(sender):
    return sender[1:].replace(".", "_")


class Portal:
    def __init__(self, connection):
        self.connection = connection
        self.mode = "accept"
        self.close_after = self.fail_key = -1
        self.key_calls = self.in_flight = self.max_in_flight = self.tokens = 0
        self.keysyms, self.calls = [], []
        self.sessions = {}  # path -> [open, kind, sender, shortcuts named]
        self.session_info = Gio.DBusNodeInfo.new_for_xml(SESSION_XML).interfaces[0]
        for info in Gio.DBusNodeInfo.new_for_xml(XML).interfaces:
            connection.register_object(DESKTOP, info, self.call, self.get_property, None)

    def get_property(self, connection, sender, path, interface, name):
        return GLib.Variant("u", 7 if name == "AvailableDeviceTypes" else 1 if "GlobalShortcuts" in interface else 2)

    def respond(self, invocation, sender, options, code, results):
        path = "%s/request/%s/%s" % (DESKTOP, sender_part(sender), options["handle_token"])

        def send():
            self.connection.emit_signal(sender, path, "org.freedesktop.portal.Request", "Response",
                                        GLib.Variant("(ua{sv})", (code, results)))
            return False

        GLib.idle_add(send)
        invocation.return_value(GLib.Variant("(o)", (path,)))

    def new_session(self, sender, options, kind, named=()):
        path = "%s/session/%s/%s" % (DESKTOP, sender_part(sender), options["session_handle_token"])
        self.connection.register_object(path, self.session_info, self.session_call, None, None)
        self.sessions[path] = [True, kind, sender, list(named)]
        return path

    def session_call(self, connection, sender, path, interface, method, parameters, invocation):
        self.calls.append("Close")
        self.sessions[path][0] = False
        invocation.return_value(None)

    def close_sessions(self):
        for path, session in self.sessions.items():
            if session[0]:
                session[0] = False
                self.connection.emit_signal(session[2], path, "org.freedesktop.portal.Session", "Closed",
                                            GLib.Variant("(a{sv})", ({},)))

    def take_key(self, args, invocation):
        self.keysyms.append((args[2], args[3]))
        invocation.return_value(None)
        if self.close_after >= 0 and len(self.keysyms) >= self.close_after:
            self.close_after = -1
            self.close_sessions()

    def call(self, connection, sender, path, interface, method, parameters, invocation):
        args = parameters.unpack()
        short = interface.rsplit(".", 1)[1]
        if short == "RemoteDesktop" and method == "CreateSession":
            self.calls.append("CreateSession")
            session = self.new_session(sender, args[0], "remote")
            self.respond(invocation, sender, args[0], 0, {"session_handle": GLib.Variant("s", session)})
        elif method == "SelectDevices":
            options = args[1]
            self.calls.append("SelectDevices types=%d persist_mode=%d restore_token=%s" % (
                options.get("types", 0), options.get("persist_mode", 0), options.get("restore_token", "")))
            self.respond(invocation, sender, options, 0, {})
        elif method == "Start":
            self.calls.append("Start")
            if self.mode == "refuse":
                return self.respond(invocation, sender, args[2], 1, {})
            self.tokens += 1
            self.respond(invocation, sender, args[2], 0, {
                "devices": GLib.Variant("u", 1), "restore_token": GLib.Variant("s", "token-%d" % self.tokens)})
        elif method == "NotifyKeyboardKeysym":
            session = self.sessions.get(args[0])
            if session is None or not session[0]:
                return invocation.return_dbus_error("org.freedesktop.DBus.Error.AccessDenied", "session closed")
            self.key_calls += 1
            if self.key_calls == self.fail_key:
                return invocation.return_dbus_error("org.freedesktop.DBus.Error.Failed", "the key was refused")
            if self.mode != "reorder":
                return self.take_key(args, invocation)
            # Alternately slow and quick: a call sent while the one before is still held is answered, and
            # reaches the compositor, first.
            self.in_flight += 1
            self.max_in_flight = max(self.max_in_flight, self.in_flight)
            delay = 30 if self.key_calls % 2 else 2

            def later():
                self.in_flight -= 1
                self.take_key(args, invocation)
                return False

            GLib.timeout_add(delay, later)
        elif short == "GlobalShortcuts" and method == "CreateSession":
            # Like KDE 5.27: only the shortcuts named here can be bound later.
            named = [name for name, _ in args[0].get("shortcuts", [])]
            self.calls.append("GlobalShortcuts.CreateSession shortcuts=%s" % ",".join(named))
            if self.mode == "silent-shortcuts":  # a backend that never opens a session
                path = "%s/request/%s/%s" % (DESKTOP, sender_part(sender), args[0]["handle_token"])
                return invocation.return_value(GLib.Variant("(o)", (path,)))
            session = self.new_session(sender, args[0], "shortcuts", named)
            self.respond(invocation, sender, args[0], 0, {"session_handle": GLib.Variant("s", session)})
        elif method == "BindShortcuts":
            named = self.sessions.get(args[0], [None] * 4)[3] or []
            for name, details in args[1]:
                self.calls.append("BindShortcuts %s trigger=%s" % (name, details.get("preferred_trigger", "")))
            # The desktop has the last word on the trigger.
            bound = [(name, {"description": GLib.Variant("s", details.get("description", "")),
                             "trigger_description": GLib.Variant("s", "Meta+F9")})
                     for name, details in args[1] if name in named]
            self.respond(invocation, sender, args[3], 0, {"shortcuts": GLib.Variant("a(sa{sv})", bound)})
        elif method == "SetMode":
            mode, _, count = args[0].partition(":")
            if mode == "close-after":
                self.close_after, mode = int(count), "accept"
            elif mode == "fail-key":
                self.fail_key, mode = self.key_calls + int(count), "accept"
            self.mode = mode
            invocation.return_value(None)
        elif method in ("Keysyms", "Calls"):
            keysyms = ["%d %d" % key for key in self.keysyms]
            invocation.return_value(GLib.Variant("(as)", (keysyms if method == "Keysyms" else self.calls,)))
        elif method == "MaxInFlight":
            invocation.return_value(GLib.Variant("(u)", (self.max_in_flight,)))
        elif method == "Activate":
            for path, session in self.sessions.items():
                if session[0] and session[1] == "shortcuts":
                    for signal in ("Activated", "Deactivated"):
                        self.connection.emit_signal(None, DESKTOP, "org.freedesktop.portal.GlobalShortcuts",
                                                    signal, GLib.Variant("(osta{sv})", (path, args[0], 0, {})))
            invocation.return_value(None)
        else:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)


loop = GLib.MainLoop()
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
portal = Portal(bus)
Gio.bus_own_name_on_connection(bus, "org.freedesktop.portal.Desktop", Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                               lambda *_: print("ready", flush=True),
                               lambda *_: print("name taken", flush=True) or loop.quit())
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                  GLib.IOCondition.HUP | GLib.IOCondition.IN, lambda *_: loop.quit() or False)
loop.run()
