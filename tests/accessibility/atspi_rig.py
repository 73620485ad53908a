"""Tellwind as a screen reader meets it over AT-SPI, with a tray host whose
menus are read over com.canonical.dbusmenu, on the harness's session bus."""

import os
import signal
import subprocess
import tempfile
import threading
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402
import pyatspi  # noqa: E402

BUILD_DIR = os.environ.get("TELLWIND_BUILD_DIR", "build")
PROGRAM = os.path.join(BUILD_DIR, "tellwind")
READY = "✅ Window configured as floating borderless"


def pump(seconds=0.05):
    """Lets the tray host answer the program, then waits a little."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        while GLib.MainContext.default().iteration(False):
            pass
        time.sleep(0.01)


def wait_for(predicate, timeout=15.0, what="condition"):
    """The predicate's first truthy answer; fails after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    last_error = None
    while time.monotonic() < deadline:
        try:
            value = predicate()
            if value:
                return value
        except GLib.Error as error:  # an object that went away while read
            last_error = error
        pump()
    raise AssertionError(f"timed out waiting for {what}" + (f" ({last_error})" if last_error else ""))


class AccessibilityBus:
    """at-spi-bus-launcher on the session bus, as a desktop session starts it."""

    def __init__(self):
        self.process = subprocess.Popen(
            ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        wait_for(lambda: bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                       GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 1000, None),
                 what="the accessibility bus")

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


WATCHER_XML = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  </interface>
</node>"""


class TrayHost:
    """A StatusNotifierWatcher: the tray of a desktop, without pixels."""

    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        self.items = []
        info = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML).interfaces[0]
        self.registration = self.bus.register_object(
            "/StatusNotifierWatcher", info, self._call, self._property, None)
        self.owner = Gio.bus_own_name_on_connection(
            self.bus, "org.kde.StatusNotifierWatcher", Gio.BusNameOwnerFlags.NONE, None, None)
        pump(0.2)

    def _call(self, connection, sender, path, interface, method, parameters, invocation):
        if method == "RegisterStatusNotifierItem":
            service = parameters.unpack()[0]
            # Some items register by path; their bus name is the sender's.
            self.items.append(sender if service.startswith("/") else service)
        invocation.return_value(None)

    def _property(self, connection, sender, path, interface, name):
        return {"RegisteredStatusNotifierItems": GLib.Variant("as", self.items),
                "IsStatusNotifierHostRegistered": GLib.Variant("b", True)}.get(name, GLib.Variant("i", 0))

    def _menu_call(self, service, method, parameters):
        item = self.bus.call_sync(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                                  GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "Menu")),
                                  GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE, 5000, None)
        return self.bus.call_sync(service, item.unpack()[0], "com.canonical.dbusmenu", method, parameters,
                                  None, Gio.DBusCallFlags.NONE, 5000, None)

    def menu(self, service):
        """The entries of the item's menu: (id, label) in order, separators left out."""
        _, (_, _, entries) = self._menu_call(service, "GetLayout", GLib.Variant("(iias)", (0, -1, []))).unpack()
        return [(entry_id, properties.get("label", "")) for entry_id, properties, _ in entries
                if properties.get("type") != "separator"]

    def choose(self, service, label):
        """Chooses the menu entry `label`, once the menu has it, as a click on it does."""
        entry = wait_for(lambda: next((entry_id for entry_id, text in self.menu(service) if text == label), None),
                         what=f"'{label}' in the menu")
        self._menu_call(service, "Event", GLib.Variant("(isvu)", (entry, "clicked", GLib.Variant("i", 0), 0)))


class Tellwind:
    """One run of the program with a settings folder of its own."""

    def __init__(self, settings=None, language=None):
        self.dir = tempfile.TemporaryDirectory(prefix="tellwind-a11y-")
        env = dict(os.environ)
        config = os.path.join(self.dir.name, "config")
        os.makedirs(os.path.join(config, "Tellwind"))
        # The harness's PulseAudio finds its cookie under the old folder.
        env.update(PULSE_COOKIE=os.path.join(env.get("XDG_CONFIG_HOME", ""), "pulse", "cookie"), XDG_CONFIG_HOME=config,
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1", LANGUAGE="en")
        if language:
            env.update(LANG=language, LC_ALL=language, LANGUAGE=language.split("_")[0])
        self.settings_file = os.path.join(config, "Tellwind", "Tellwind.conf")
        with open(self.settings_file, "w", encoding="utf-8") as file:
            file.write("[General]\n" + "".join(f"{key}={value}\n" for key, value in (settings or {}).items()))
        self.lines = []
        self.process = subprocess.Popen([PROGRAM], env=env, cwd=self.dir.name, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        wait_for(lambda: READY in self.lines, what="the panel")
        self.app = wait_for(self._application, what="Tellwind on the accessibility bus")

    def _read(self):
        for raw in self.process.stdout:
            self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))

    def _application(self):
        for app in children(pyatspi.Registry.getDesktop(0)):
            try:
                if app.get_process_id() == self.process.pid:
                    # Read afresh every time: the names change with the state.
                    app.set_cache_mask(Atspi.Cache.NONE)
                    return app
            except GLib.Error:
                continue
        return None

    def settings(self):
        with open(self.settings_file, encoding="utf-8") as file:
            return file.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(5)
        self.reader.join(5)
        self.process.stdout.close()
        self.dir.cleanup()

    def window(self, name):
        """The program's top-level window called `name`, once it shows."""
        return wait_for(lambda: next((child for child in children(self.app)
                                      if child.name == name and has_state(child, pyatspi.STATE_SHOWING)), None),
                        what=f"the window '{name}'")


def children(node):
    return [child for child in map(node.getChildAtIndex, range(node.childCount)) if child is not None]


def has_state(node, state):
    return node.getState().contains(state)


def descendants(root, predicate):
    """Every showing object under `root` that `predicate` accepts, in reading order."""
    found = []
    for child in children(root):
        found += [child] if predicate(child) and has_state(child, pyatspi.STATE_SHOWING) else []
        found += descendants(child, predicate)
    return found


def by_role(root, role):
    return descendants(root, lambda n: n.getRole() == role)


def button_names(root):
    return [node.name for node in by_role(root, pyatspi.ROLE_PUSH_BUTTON)]


def find(root, role, name, roles=()):
    """The showing object of `role` (or of any of `roles`) called `name` under `root`, once it is there."""
    roles = roles or (role,)
    return wait_for(lambda: next(iter(descendants(root, lambda n: n.getRole() in roles and n.name == name)), None),
                    what=f"{[pyatspi.Role(r) for r in roles]} '{name}'")


def find_text(root, text):
    """A showing label or static text reading `text` under `root`, once it is there."""
    return find(root, None, text, (pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC, pyatspi.ROLE_TEXT, pyatspi.ROLE_TOOL_TIP))


def press(node):
    """What a screen reader's "activate" does: the object's press (or click) action."""
    action = node.queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    wanted = next((name for name in ("press", "click", "toggle") if name in names), None)
    if wanted is None:
        raise AssertionError(f"'{node.name}' has no press action, only {names}")
    return action.doAction(names.index(wanted))
