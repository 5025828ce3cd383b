"""A virtual X desktop of a test's own (Xvfb on a free display) and real input on it.

Input goes through xdotool, which uses the XTEST extension: the server treats it as a real
keyboard and mouse, auto-repeat of held keys included. Pixels, window geometry and close
requests go through python-xlib.

By default no window manager runs, so the program's windows are the root's children. With
window_manager="openbox" (or True), "mutter", "kwin", "icewm", "fluxbox", "fvwm3", "i3" or "bspwm"
that window manager runs on the display as it would on a user's desktop: it frames each window,
gives the focus on its own and answers the program's requests to move and activate its window.
Each frames, places and answers in its own way: openbox tells the frame a window will have
before it shows it, KWin never does, mutter puts the corner of a frame that comes back where the
client was, icewm, fluxbox and fvwm3 keep part of the screen for a taskbar or panel, i3 tells
no frame, and bspwm frames with the window's own border instead of a frame window."""

import os
import subprocess
import time

from Xlib import X, Xatom, display, protocol

from processes import wait_until


WINDOW_MANAGER_TIMEOUT = 20

# Without one i3 would start its configuration wizard, and Debian's binds Alt with the letters
# that open the program's menus. An empty one binds nothing.
I3_CONFIG = "# Every key is the program's.\n"

# How each window manager starts on a display of its own, in its stock configuration, with no
# session manager to register with. KWin composites only if asked: on a virtual display it
# would draw every frame in software.
WINDOW_MANAGERS = {
    "openbox": (["openbox", "--sm-disable"], {}),
    "mutter": (["mutter", "--x11", "--replace", "--sm-disable"], {}),
    "kwin": (["kwin_x11", "--replace"], {"KWIN_COMPOSE": "N", "QT_QPA_PLATFORM": "xcb"}),
    "icewm": (["icewm"], {}),
    "fluxbox": (["fluxbox"], {}),
    "fvwm3": (["fvwm3"], {}),
    # i3 reads the configuration written for it below.
    "i3": (["i3", "-c", "{config}"], {}),
    "bspwm": (["bspwm"], {}),
}


class Desktop:
    def __init__(self, processes, width, height, window_manager=False):
        self.width = width
        self.height = height
        self.window_manager = None
        self._window_manager_own = None
        read_end, write_end = os.pipe()
        # -displayfd makes the server pick a display number that no other server holds.
        self.server = processes.start("xvfb", [
            "Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
            "-nolisten", "tcp", "-noreset",
        ], env=dict(os.environ), pass_fds=(write_end,))
        os.close(write_end)
        number = self._read_display_number(read_end)
        os.close(read_end)
        if number is None:
            raise RuntimeError("Xvfb did not start:\n" + open(self.server.log_path).read())
        self.name = f":{number}"
        self.x = display.Display(self.name)
        self.root = self.x.screen().root
        self._wm_protocols = self.x.intern_atom("WM_PROTOCOLS")
        self._wm_delete_window = self.x.intern_atom("WM_DELETE_WINDOW")
        self._net_wm_pid = self.x.intern_atom("_NET_WM_PID")
        self._wm_state = self.x.intern_atom("WM_STATE")
        if window_manager:
            self._start_window_manager(processes, "openbox" if window_manager is True else window_manager)

    def _start_window_manager(self, processes, name):
        argv, settings = WINDOW_MANAGERS[name]
        env = self.env()
        env.update(settings)
        # Its settings and caches go to the test's folder, never to the user's.
        for variable in ("HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"):
            env[variable] = os.path.join(processes.log_dir, name, variable.lower())
            os.makedirs(env[variable], mode=0o700, exist_ok=True)
        if "{config}" in argv:
            config = os.path.join(processes.log_dir, name, "config")
            with open(config, "w") as f:
                f.write(I3_CONFIG)
            argv = [config if arg == "{config}" else arg for arg in argv]
        self.window_manager = processes.start(name, argv, env=env)
        if not self._window_manager_manages():
            raise RuntimeError(f"{name} did not start:\n" + open(self.window_manager.log_path).read())

    def _window_manager_manages(self):
        """Waits until the window manager has taken the display and manages new windows. It
        announces itself with _NET_SUPPORTING_WM_CHECK on the root window, but a map request that
        comes while it is still starting is lost, so probe windows are mapped until one comes
        back framed."""
        check = self.x.intern_atom("_NET_SUPPORTING_WM_CHECK")
        announced = wait_until(lambda: self.root.get_full_property(check, Xatom.WINDOW),
                               WINDOW_MANAGER_TIMEOUT)
        if announced is None or not announced.value:
            return False
        self._window_manager_own = announced.value[0]
        deadline = time.monotonic() + WINDOW_MANAGER_TIMEOUT
        while time.monotonic() < deadline:
            probe = self.root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
            probe.map()
            self.x.sync()
            framed = wait_until(
                lambda: probe.get_full_property(self._wm_state, X.AnyPropertyType) is not None, 0.5)
            probe.destroy()
            self.x.sync()
            if framed:
                return True
        return False

    @staticmethod
    def _read_display_number(fd):
        text = b""
        deadline = time.monotonic() + 20
        while not text.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(fd, 16)
            if not chunk:
                break
            text += chunk
        return int(text) if text.strip().isdigit() else None

    def close(self):
        try:
            self.x.close()
        except Exception:
            pass

    # ---- Keyboard settings -------------------------------------------------------------------

    def auto_repeat(self, delay_ms=None, rate_hz=None):
        """Turns the server's key auto-repeat on (xset r on), optionally with its timing, and
        says whether it is on."""
        self.xset("r", "on")
        if delay_ms is not None:
            self.xset("r", "rate", delay_ms, rate_hz)
        return self.x.get_keyboard_control().global_auto_repeat == X.AutoRepeatModeOn

    def xset(self, *args):
        subprocess.run(["xset", *[str(a) for a in args]], env=self.env(), check=True)

    # ---- Windows -----------------------------------------------------------------------------

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        return env

    def top_levels(self):
        """The viewable top-level windows: (window, name, override_redirect). Under a window
        manager these are the client windows inside its frames, not the frames."""
        found = []
        for child in self.root.query_tree().children:
            try:
                attributes = child.get_attributes()
                if attributes.map_state != X.IsViewable or child.id == self._window_manager_own:
                    continue
                # icewm's frames are override-redirect too: a popup is one that holds no client.
                client = None if self.window_manager is None else self._client_in(child)
                popup = bool(attributes.override_redirect) and client is None
                window = child if popup or self.window_manager is None else client
                if window is not None:
                    found.append((window, window.get_wm_name() or "", popup))
            except Exception:
                continue   # gone meanwhile
        return found

    def _client_in(self, frame, depth=3):
        """The client window a window manager's frame holds: the one with WM_STATE."""
        if frame.get_full_property(self._wm_state, X.AnyPropertyType) is not None:
            return frame
        if depth == 0:
            return None
        for child in frame.query_tree().children:
            client = self._client_in(child, depth - 1)
            if client is not None:
                return client
        return None

    def window_of(self, pid, name):
        for window, window_name, popup in self.top_levels():
            if popup or window_name != name:
                continue
            value = window.get_full_property(self._net_wm_pid, Xatom.CARDINAL)
            if value is not None and value.value and value.value[0] == pid:
                return window
        return None

    def wait_for_window(self, pid, name, timeout):
        return wait_until(lambda: self.window_of(pid, name), timeout)

    def geometry(self, window):
        """(x, y, width, height) of a window on the screen."""
        g = window.get_geometry()
        origin = window.translate_coords(self.root, 0, 0)
        return (-origin.x, -origin.y, g.width, g.height)

    def outer_geometry(self, window):
        """(x, y, width, height) of a window with the frame a window manager put around it, as
        the window manager tells it (mutter's frame window reaches a pixel beyond what it draws),
        else as its frame window lies, with the border of its own (bspwm frames with the window's
        own border)."""
        extents = self.property(window, "_NET_FRAME_EXTENTS")
        if len(extents) == 4:
            left, right, top, bottom = extents
            x, y, width, height = self.geometry(window)
            return (x - left, y - top, width + left + right, height + top + bottom)
        while True:
            parent = window.query_tree().parent
            if parent is None or parent == self.root:
                x, y, width, height = self.geometry(window)
                border = window.get_geometry().border_width
                return (x - border, y - border, width + 2 * border, height + 2 * border)
            window = parent

    def property(self, window, name):
        """A property of the window as a list of numbers; empty when the window has none."""
        value = window.get_full_property(self.x.intern_atom(name), X.AnyPropertyType)
        return list(value.value) if value is not None else []

    def atom_names(self, atoms):
        return [self.x.get_atom_name(atom) for atom in atoms]

    def watch_structure(self, window):
        """Starts keeping the window's unmaps and changes of size: see structure_changes."""
        window.change_attributes(event_mask=X.StructureNotifyMask)
        self.x.sync()

    def structure_changes(self):
        """What happened to a watched window since the last call: ("unmap",) or
        ("size", width, height) for each change. A window manager that moves the window into a
        new frame unmaps it for the move, which nobody sees: that unmap is left out."""
        self.x.sync()
        changes = []
        while self.x.pending_events():
            event = self.x.next_event()
            if event.type == X.UnmapNotify:
                changes.append(("unmap",))
            elif event.type == X.ReparentNotify and changes and changes[-1] == ("unmap",):
                changes.pop()
            elif event.type == X.ConfigureNotify:
                size = ("size", event.width, event.height)
                if not changes or changes[-1] != size:
                    changes.append(size)
        return changes

    def popups(self):
        """The open menus: override-redirect windows, as (x, y, width, height), bottom first."""
        return [self.geometry(w) for w, _, popup in self.top_levels() if popup]

    def request_close(self, window):
        """What a window manager's close box does: a WM_DELETE_WINDOW client message."""
        event = protocol.event.ClientMessage(
            window=window, client_type=self._wm_protocols,
            data=(32, [self._wm_delete_window, X.CurrentTime, 0, 0, 0]))
        window.send_event(event, event_mask=X.NoEventMask)
        self.x.sync()

    def set_resources(self, text):
        """The X resources that programs read as they start, as xrdb sets them."""
        self.root.change_property(Xatom.RESOURCE_MANAGER, Xatom.STRING, 8, text.encode())
        self.x.sync()

    # ---- Pixels ------------------------------------------------------------------------------

    def pixels(self, x, y, width, height):
        """Screen pixels as rows of (r, g, b)."""
        image = self.root.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF)
        data = image.data
        stride = len(data) // height
        rows = []
        for row in range(height):
            start = row * stride
            rows.append([(data[start + 4 * i + 2], data[start + 4 * i + 1], data[start + 4 * i])
                         for i in range(width)])
        return rows

    def cursor(self):
        """The pointer's picture as the server shows it: (width, height, hot x, hot y)."""
        self.x.xfixes_query_version()
        image = self.x.xfixes_get_cursor_image(self.root)
        return (image.width, image.height, image.xhot, image.yhot)

    def save_png(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env(), check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # ---- Input -------------------------------------------------------------------------------

    def xdotool(self, *args):
        subprocess.run(["xdotool", *[str(a) for a in args]], env=self.env(), check=True)

    def move(self, x, y):
        self.xdotool("mousemove", x, y)

    def click(self, x, y, button=1):
        self.xdotool("mousemove", x, y, "click", button)

    def press(self, x, y, button=1):
        self.xdotool("mousemove", x, y, "mousedown", button)

    def release(self, button=1):
        self.xdotool("mouseup", button)

    def key(self, *names):
        """Taps keys: X keycodes given as numbers, or keysym names such as alt+t."""
        self.xdotool("key", "--delay", 60, *names)

    def key_down(self, name):
        self.xdotool("keydown", name)

    def key_up(self, name):
        self.xdotool("keyup", name)

    def keys_down(self):
        """The X keycodes that the server holds down now."""
        bitmap = self.x.query_keymap()
        return [8 * i + bit for i, byte in enumerate(bitmap) for bit in range(8) if byte >> bit & 1]

    def release_all_keys(self):
        """Lets go of every key the server holds down; returns their keycodes."""
        held = self.keys_down()
        if held:
            self.xdotool("keyup", *held)
        return held

    def focus(self, window):
        self.xdotool("windowfocus", window.id)
