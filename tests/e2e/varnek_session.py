"""One run of the real program under test: its own X desktop, its own JACK server with a MIDI
monitor, then Varnek itself, driven from outside. Everything is ended when the session ends,
also when the test fails; on failure the logs and a screenshot are kept."""

import os
import shutil
import sys
import tempfile

import midi_log
import panel_map
from desktop import Desktop
from jack import JackServer, MidiMonitor
from pulse import SoundServer
from processes import ProcessGroup, read_text, wait_until

# Settings of the user's desktop that would change what the program does under test.
_FOREIGN_SETTINGS = ("WAYLAND_DISPLAY", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                     "QT_AUTO_SCREEN_SCALE_FACTOR", "QT_ENABLE_HIGHDPI_SCALING", "QT_STYLE_OVERRIDE",
                     "QT_QPA_PLATFORMTHEME", "PULSE_SERVER", "PIPEWIRE_REMOTE", "JACK_DEFAULT_SERVER")

START_TIMEOUT = float(os.environ.get("VARNEK_E2E_START_TIMEOUT", "30"))

# VARNEK_E2E_WINDOW_MANAGER=openbox (or another of desktop.WINDOW_MANAGERS) runs every session
# under that window manager unless a test says otherwise.
WINDOW_MANAGER = os.environ.get("VARNEK_E2E_WINDOW_MANAGER") or False


def centred(work_area, window_size):
    """The program's own rule: centre on the work area (x, y, width, height), then keep the
    window within it, its top-left corner first."""
    placed = []
    for origin, room, window in zip(work_area[:2], work_area[2:], window_size):
        start = origin + room // 2 - window // 2
        if start + window > origin + room:
            start = origin + room - window
        placed.append(max(start, origin))
    return tuple(placed)


def test_failed(test):
    """Whether a unittest test has failed so far, a subtest of it included. Asked from its
    cleanups, which run before the outcome is reported."""
    outcome = getattr(test, "_outcome", None)
    if outcome is None:
        return False
    if getattr(outcome, "errors", None) is not None:   # Python 3.10 and older collect them here
        return any(error for _, error in outcome.errors)
    result = outcome.result
    return any(case is test or getattr(case, "test_case", None) is test
               for case, _ in result.errors + result.failures)


def _sanitizer_report(log):
    """Whether the program's output holds a report of a sanitizer build."""
    return "Sanitizer" in log or "runtime error:" in log


class VarnekSession:
    def __init__(self, program, screen=(800, 400), jack=True, monitor=True, sound=None, window_manager=None,
                 scale=1, desktop_scale=False, screen_reader=False):
        self.program = program
        self.sound_kind = sound  # a sound server of the test's own, one of pulse.KINDS
        self.sound = None
        self.screen = screen
        self.window_manager = WINDOW_MANAGER if window_manager is None else window_manager
        # Qt's scale factor: a screen of that many device pixels to each pixel of the panel. It
        # comes from the desktop's Xft.dpi with desktop_scale, else from QT_SCALE_FACTOR.
        self.scale = scale
        self.desktop_scale = desktop_scale
        self.with_jack = jack
        # A screen reader's view of the program through AT-SPI, on buses of the test's own: True
        # for a reader that runs before the program starts, "later" for one the test starts.
        self.with_screen_reader = screen_reader
        self.screen_reader = None
        self.with_monitor = monitor and jack
        self.jack = None
        self.monitor = None
        self.varnek = None
        self.program_logs = []
        self.window = None
        self.failures = 0   # tests that failed in a session shared by several
        self.ended = False

    # ---- Start and end -----------------------------------------------------------------------

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="varnek-e2e-")
        self.processes = ProcessGroup(self.dir)
        try:
            self.desktop = Desktop(self.processes, *self.screen, self.window_manager)
            if self.desktop_scale:
                self.desktop.set_resources(f"Xft.dpi:\t{round(96 * self.scale)}\n")
            if self.with_screen_reader:
                # Only tests that read the program as a screen reader need python3-gi.
                from screen_reader import screen_reader
                self.screen_reader = screen_reader(active=self.with_screen_reader is True)
            if self.with_jack:
                self.jack = JackServer(self.processes)
            if self.sound_kind:
                self.sound = SoundServer(self.processes, self.sound_kind)
            if self.with_monitor:
                # The monitor comes first, so that the Play Thru list shows it from the start.
                self.monitor = MidiMonitor(self.processes, self.jack)
            self.start_program()
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def program_env(self):
        env = {k: v for k, v in os.environ.items() if k not in _FOREIGN_SETTINGS}
        env["DISPLAY"] = self.desktop.name
        env["QT_QPA_PLATFORM"] = "xcb"
        if self.scale != 1 and not self.desktop_scale:
            env["QT_SCALE_FACTOR"] = str(self.scale)
        runtime = os.path.join(self.dir, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env["XDG_RUNTIME_DIR"] = runtime
        # The built-in synth must play to this test's own servers, never to a sound server of
        # the machine.
        env["PULSE_SERVER"] = "unix:/nonexistent/varnek-e2e"
        if self.sound:
            env = self.sound.client_env(env)
        if self.screen_reader:
            env = self.screen_reader.client_env(env)
        if self.jack:
            env = self.jack.client_env(env)
        else:
            env["JACK_NO_START_SERVER"] = "1"
            env["JACK_DEFAULT_SERVER"] = "varnek-e2e-no-server"
        return env

    def start_program(self, wait=True):
        name = "varnek" if not self.program_logs else f"varnek-{len(self.program_logs) + 1}"
        self.varnek = self.processes.start(name, [self.program], env=self.program_env())
        self.program_logs.append(self.varnek.log_path)
        if wait:
            self.window = self.desktop.wait_for_window(self.varnek.pid, "Varnek", START_TIMEOUT)
            if self.window is None:
                raise AssertionError("the Varnek window did not appear\n" + self.diagnostics())
            self.settle_window()

    def settle_window(self):
        """Waits until the window has its place: the program centres it at start, and again
        once a window manager that did not say beforehand tells the size of its frame."""
        def placed():
            # Until a window manager has told its frame, the window may stand centred as if it
            # had none, and it moves once more.
            if self.window_manager and not self.desktop.property(self.window, "_NET_FRAME_EXTENTS"):
                return False
            outer = self.desktop.outer_geometry(self.window)
            return outer[:2] == centred(self.work_area(), outer[2:])
        wait_until(placed, 5)

    def end_with(self, test):
        """Ends the session as the last cleanup of a unittest test; when the test fails, its logs
        and a screenshot stay in the session's folder."""
        test.addCleanup(lambda: self.end(failed=test_failed(test)))

    def keep_evidence_of(self, test):
        """For a session that several tests share: a test that fails leaves a screenshot named
        after it, and the session keeps its logs when it ends."""
        def note():
            if test_failed(test):
                self.failures += 1
                self.keep_evidence(test.id().rsplit(".", 1)[-1])
        test.addCleanup(note)

    def keep_evidence(self, name="screen"):
        try:
            self.desktop.save_png(os.path.join(self.dir, name + ".png"))
        except Exception:
            pass
        print(self.diagnostics(), file=sys.stderr)

    def __exit__(self, kind, value, traceback):
        self.end(failed=kind is not None, interrupted=kind is KeyboardInterrupt)
        return False

    def end(self, failed=False, interrupted=False):
        """Ends every process of the session. A failure, earlier ones of a shared session, a
        sanitizer's report or VARNEK_E2E_KEEP keep the logs; a second call does nothing."""
        if self.ended:
            return
        self.ended = True
        if failed and not interrupted:
            self.keep_evidence()
        failed = failed or self.failures > 0
        self.end_program()
        self.processes.stop_all()
        if hasattr(self, "desktop"):
            self.desktop.close()
        reports = [path for path in self.program_logs if _sanitizer_report(read_text(path))]
        if failed or reports or os.environ.get("VARNEK_E2E_KEEP"):
            print(f"logs kept in {self.dir}", file=sys.stderr)
        else:
            shutil.rmtree(self.dir, ignore_errors=True)
        if reports and not failed:
            raise AssertionError("a sanitizer reported a fault in the program:\n" +
                                 read_text(reports[0], tail=60))

    def end_program(self):
        """Closes the program as a user would, so that it leaves the JACK server cleanly;
        kills it if it does not go."""
        if self.varnek is None or self.varnek.poll() is not None:
            return
        try:
            if self.window is not None:
                self.desktop.request_close(self.window)
                self.varnek.wait(5)
        except Exception:
            pass
        self.processes.stop(self.varnek)

    def diagnostics(self):
        parts = []
        if self.varnek is not None:
            parts.append("--- varnek output ---\n" + read_text(self.varnek.log_path, tail=40))
        if self.monitor is not None:
            parts.append("--- MIDI received (last 40) ---\n" +
                         read_text(self.monitor.process.log_path, tail=40))
        return "\n".join(parts)

    def start_orca(self):
        """Orca, turned on by the user while the program runs."""
        return self.screen_reader.start_orca(self.processes, self.desktop.name, os.path.join(self.dir, "orca"))

    def wait_for_exit(self, timeout=15):
        """The program's exit status once it has ended by itself, or None if it did not."""
        try:
            status = self.varnek.wait(timeout)
        except Exception:
            return None
        self.processes.forget(self.varnek)
        return status

    # ---- Where the panel is ------------------------------------------------------------------

    def work_area(self):
        """The part of the screen that windows may take, as the window manager says: (x, y,
        width, height)."""
        area = self.desktop.property(self.desktop.root, "_NET_WORKAREA")[:4]
        return tuple(area) if len(area) == 4 else (0, 0, *self.screen)

    def frame(self):
        return self.desktop.geometry(self.window)

    def client_origin(self):
        """Screen position of the panel's top-left pixel: the rack fills the bottom of the
        window, under the menu bar when there is one (a window manager's frame lies outside
        the window)."""
        x, y, width, height = self.frame()
        return (x, y + height - panel_map.PANEL_HEIGHT * self.scale)

    def at(self, point):
        ox, oy = self.client_origin()
        return (ox + point[0] * self.scale, oy + point[1] * self.scale)

    # ---- Input on the panel ------------------------------------------------------------------

    def click(self, point, button=1):
        self.desktop.click(*self.at(point), button=button)

    def click_control(self, rect):
        self.click(rect.centre)

    def key(self, *scan_codes):
        self.desktop.key(*[panel_map.keycode(s) for s in scan_codes])

    def hold_key(self, scan_code):
        """Presses a key of the computer keyboard and waits until its note-on has reached the
        monitor."""
        start = self.monitor.count()
        self.desktop.key_down(panel_map.keycode(scan_code))
        return wait_until(lambda: any(midi_log.key_of(m) is not None and m.data[2] != 0
                                      for m in self.monitor.since(start)), 5)

    def menu(self, mnemonic, *keys):
        """Opens a menu of the menu bar with Alt and its mnemonic letter, then types keys."""
        self.desktop.key(f"alt+{mnemonic}")
        wait_until(self.desktop.popups, 5)
        if keys:
            self.desktop.key(*keys)

    def wait_menus_closed(self, timeout=5):
        return wait_until(lambda: not self.desktop.popups(), timeout) is not None

    def route_to_monitor(self):
        """Chooses the monitor's port from Play Thru: the JACK ports come last in the list, so it
        is the item above the first one. Returns what the monitor received meanwhile."""
        start = self.monitor.count()
        self.menu("t", "Up", "Return")
        self.wait_menus_closed()
        return self.monitor.wait_for(start, 2)
