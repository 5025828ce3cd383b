"""What a screen reader finds in the program through AT-SPI, as Orca does: a D-Bus session bus of
the test's own, the accessibility bus at-spi-bus-launcher serves there, AT-SPI's registry on it,
and this process as the reader; and Orca itself, with what it says. Every server is started
here, and asked for only once it answers, so that neither bus starts one of its own that no test
would end."""

import atexit
import os
import pty
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import tty

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

from processes import ProcessGroup, children_of, process_state, start_session_bus, wait_until  # noqa: E402

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
REGISTRY = "/usr/libexec/at-spi2-registryd"
START_TIMEOUT = 10

_shared = None


def screen_reader(active):
    """The screen reader's side of this test process: libatspi connects to one accessibility bus
    per process, at its first call, so every session of the process shares the buses, which end
    with the process. With active, the session says from the start that a screen reader runs, as
    when the reader started before the program; else a reader turns that on later."""
    global _shared
    if _shared is None:
        folder = tempfile.mkdtemp(prefix="varnek-e2e-a11y-")
        _shared = ScreenReader(ProcessGroup(folder), folder)
        atexit.register(_shared.end)
    _shared.begin(active)
    return _shared


class ScreenReader:
    def __init__(self, processes, folder):
        self.processes = processes
        self.folder = folder
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "AT_SPI_BUS_ADDRESS")}
        env["XDG_RUNTIME_DIR"] = folder
        # The launcher keeps the status in the desktop's settings; in memory, a reader that turns
        # it on changes no setting of the user's and starts no settings service on the bus.
        env["GSETTINGS_BACKEND"] = "memory"
        self.env = env
        self.bus, self.bus_address = start_session_bus(processes, env, "dbus-session")
        env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        self.address = self._start_launcher(env)
        self._start_registry(dict(env, AT_SPI_BUS_ADDRESS=self.address))
        os.environ["AT_SPI_BUS_ADDRESS"] = self.address
        # What a screen reader is told as it happens: (event, name of the object, its detail,
        # the text it carries).
        self.events = []
        self._listener = Atspi.EventListener.new(lambda event: self.events.append(
            (event.type, event.source.get_name(), event.detail1,
             event.any_data if isinstance(event.any_data, str) else None)))
        for event_type in ("object:state-changed:checked", "object:state-changed:pressed", "object:property-change",
                           "object:text-changed:insert"):
            self._listener.register(event_type)

    def begin(self, active):
        """Starts a session: the events so far are forgotten and the session's status is set,
        as the desktop sets it when a reader starts or stops."""
        self.events.clear()
        session = _connect(self.bus_address)
        for status in ("ScreenReaderEnabled", "IsEnabled"):
            session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                              GLib.Variant("(ssv)", ("org.a11y.Status", status, GLib.Variant("b", active))),
                              None, Gio.DBusCallFlags.NONE, 5000, None)

    def end(self):
        self.processes.stop_all()
        shutil.rmtree(self.folder, ignore_errors=True)

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
        env = {k: v for k, v in env.items() if k not in ("AT_SPI_BUS_ADDRESS", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON")}
        env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        return env

    def start_orca(self, processes, display, folder):
        """Orca for one session: its processes and its log are the session's."""
        return Orca(processes, dict(self.env, DISPLAY=display), folder)

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


class Orca:
    """Orca, as a user turns it on: it speaks through a speech-dispatcher of its own whose dummy
    output plays nothing, and tells each thing it says in a SPEECH OUTPUT line of its debug log.
    The log goes to a terminal of the test's own, where Orca writes it line by line, and is read
    as it comes."""

    SPEECH = re.compile(r"SPEECH OUTPUT: '(.*?)' ?(\{|voice=|$)")

    def __init__(self, processes, env, folder):
        # Orca will not start beside another Orca of the same user.
        if subprocess.run(["pgrep", "-x", "orca"], stdout=subprocess.DEVNULL).returncode == 0:
            raise RuntimeError("Orca already runs on this machine; it starts only once per user")
        os.makedirs(folder, exist_ok=True)
        env = dict(env, HOME=folder, XDG_CONFIG_HOME=os.path.join(folder, "config"),
                   XDG_DATA_HOME=os.path.join(folder, "data"), XDG_CACHE_HOME=os.path.join(folder, "cache"),
                   PULSE_SERVER="unix:/nonexistent/varnek-e2e")
        self._start_speech(processes, env, folder)
        self.spoken = []  # (time.monotonic() when read, text)
        self._lock = threading.Lock()
        # The terminal stays open on this side until Orca has ended: a terminal with no side
        # open reads as ended, also before Orca has opened its own.
        self._master, self._log = pty.openpty()
        tty.setraw(self._log)
        self.process = processes.start("orca", ["orca", "-u", os.path.join(folder, "prefs"),
                                                "--debug-file", os.ttyname(self._log)], env=env)
        self._copy = open(os.path.join(folder, "debug.log"), "wb")
        self._reader = threading.Thread(target=self._read_log, daemon=True)
        self._reader.start()
        self.process.stop = self._stop

    def _start_speech(self, processes, env, folder):
        """A speech-dispatcher that sounds nowhere: its dummy module, on ALSA's null device,
        which needs no sound card (it starts only where its audio opens)."""
        config = os.path.join(folder, "speech-dispatcher")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "speechd.conf"), "w") as f:
            f.write('AddModule "dummy" "sd_dummy" ""\nDefaultModule dummy\nAudioOutputMethod "alsa"\n')
        alsa = os.path.join(config, "asound.conf")
        with open(alsa, "w") as f:
            f.write("pcm.!default { type null }\n")
        socket = os.path.join(folder, "speechd.sock")
        env["SPEECHD_ADDRESS"] = "unix_socket:" + socket
        processes.start("speech-dispatcher", [
            "speech-dispatcher", "--run-single", "--timeout", "0", "--config-dir", config,
            "--communication-method", "unix_socket", "--socket-path", socket, "--log-dir", folder],
            env=dict(env, ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:" + alsa))
        if not wait_until(lambda: os.path.exists(socket), START_TIMEOUT):
            raise RuntimeError("speech-dispatcher did not start")

    def _read_log(self):
        pending = b""
        while True:
            try:
                data = os.read(self._master, 65536)
            except OSError:  # Orca has closed the log
                return
            if not data:
                return
            self._copy.write(data)
            lines = (pending + data).split(b"\n")
            pending = lines.pop()
            now = time.monotonic()
            for line in lines:
                found = self.SPEECH.search(line.decode("utf-8", "replace"))
                if found:
                    with self._lock:
                        self.spoken.append((now, found.group(1)))

    def _stop(self):
        self.process.stop = None
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self._log)
        self._reader.join(5)
        os.close(self._master)
        self._copy.close()

    def said_since(self, start):
        with self._lock:
            return [text for when, text in self.spoken if when >= start]

    def wait_to_say(self, words, since, timeout=5):
        """The time, on time.monotonic(), at which Orca said something holding words after
        since, or None."""
        def said():
            with self._lock:
                return next((when for when, text in self.spoken if when >= since and words in text), None)
        return wait_until(said, timeout)


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
