"""What a screen reader finds in the program through AT-SPI, as Orca does: a D-Bus session bus of
the test's own, the accessibility bus at-spi-bus-launcher serves there, AT-SPI's registry on it,
and this process as the reader. Every server is started here, and asked for only once it answers,
so that neither bus starts one of its own that no test would end."""

import os
import signal

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

from processes import children_of, process_state, start_session_bus, wait_until  # noqa: E402

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
REGISTRY = "/usr/libexec/at-spi2-registryd"
START_TIMEOUT = 10


class ScreenReader:
    def __init__(self, processes, folder):
        self.processes = processes
        os.makedirs(folder, mode=0o700, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "AT_SPI_BUS_ADDRESS")}
        env["XDG_RUNTIME_DIR"] = folder
        self.bus, self.bus_address = start_session_bus(processes, env, "dbus-session")
        env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        self.address = self._start_launcher(env)
        self._start_registry(dict(env, AT_SPI_BUS_ADDRESS=self.address))
        # libatspi reads the address once, at its first call.
        os.environ["AT_SPI_BUS_ADDRESS"] = self.address
        # What a screen reader is told as it happens: (event, name of the object, its detail).
        self.events = []
        self._listener = Atspi.EventListener.new(lambda event: self.events.append(
            (event.type, event.source.get_name(), event.detail1)))
        for event_type in ("object:state-changed:checked", "object:property-change"):
            self._listener.register(event_type)

    def _start_launcher(self, env):
        """Starts the launcher; returns the address of the accessibility bus it serves."""
        self.launcher = self.processes.start("at-spi-bus-launcher", [LAUNCHER], env=env)
        self.launcher.stop = self._stop_launcher
        session = _connect(self.bus_address)
        if not wait_until(lambda: _has_owner(session, "org.a11y.Bus"), START_TIMEOUT):
            raise RuntimeError("at-spi-bus-launcher did not start")
        return session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                 GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 5000, None)[0]

    def _start_registry(self, env):
        self.registry = self.processes.start("at-spi2-registryd", [REGISTRY], env=env)
        bus = _connect(self.address)
        if not wait_until(lambda: _has_owner(bus, "org.a11y.atspi.Registry"), START_TIMEOUT):
            raise RuntimeError("at-spi2-registryd did not start")

    def client_env(self, env):
        """The environment of a program that screen readers are to find on this bus."""
        # Qt finds the accessibility bus through the session bus; given the bus's address
        # outright, Qt 6.4 connects to it but never says it is there.
        env = {k: v for k, v in env.items() if k != "AT_SPI_BUS_ADDRESS"}
        env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        return env

    def close(self):
        os.environ.pop("AT_SPI_BUS_ADDRESS", None)

    def _stop_launcher(self):
        # The accessibility bus it started is ended by its id; the launcher waits for it, then ends.
        buses = children_of(self.launcher.pid)
        for bus in buses:
            os.kill(bus, signal.SIGTERM)
        wait_until(lambda: all(process_state(bus) is None for bus in buses), 3)
        self.processes.stop(self.launcher)

    # ---- Reading -------------------------------------------------------------------------------

    def wait(self, predicate, timeout=5):
        """Polls as wait_until does, handing AT-SPI's events to the listener meanwhile."""
        def pumped():
            while GLib.MainContext.default().iteration(False):
                pass
            return predicate()
        return wait_until(pumped, timeout)

    def application(self, name):
        desktop = Atspi.get_desktop(0)
        return next((app for app in children(desktop) if app.get_name() == name), None)


def children(accessible):
    return [accessible.get_child_at_index(i) for i in range(accessible.get_child_count())]


def named(accessible, name):
    return next((child for child in children(accessible) if child.get_name() == name), None)


def states(accessible):
    # The reader keeps what it was told last; a state whose change is not announced is asked again.
    accessible.clear_cache()
    return {state.value_nick for state in accessible.get_state_set().get_states()}


def _connect(address):
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    return Gio.DBusConnection.new_for_address_sync(address, flags, None, None)


def _has_owner(connection, name):
    # Asking the name itself could make the bus start a server of its own for it.
    return connection.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                "NameHasOwner", GLib.Variant("(s)", (name,)), GLib.VariantType("(b)"),
                                Gio.DBusCallFlags.NONE, 5000, None)[0]
