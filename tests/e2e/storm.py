"""A storm of random input on the panel: clicks, double-clicks and drags anywhere on it, keys
tapped, held and overlapped, and commands from the menus, the way an impatient user (or a
cat) would give them.

The storm never touches POWER, which would end it, nor chooses another port from the Play Thru
menu, which would hide from the MIDI monitor what follows; it opens that menu, with Alt or F10,
and chooses the monitor's port again. It opens menus while keys and buttons are held and lets
go of them inside. Everything else is fair game, the MENU button and the wheel included: with the bars hidden the rack moves under drags, so every action looks up where the
panel is now. A point of the rack that lies off the screen is never aimed at: X would move the
pointer to the screen's edge instead, onto whatever is there, POWER included. When most of the
rack has been dragged off the screen, the storm brings it back, as a user would."""

import random
import subprocess
import time

import panel_map
from panel_map import keycode

ALT_KEYCODES = ("Alt_L",)
MODIFIERS = ("Shift_L", "Control_L")
# Keys without a note that a user might hit: Escape, Enter, Space, Backspace, the arrows up
# and down, Home, End, Page Up/Down, Insert, Delete.
OTHER_KEYS = ("Escape", "Return", "space", "BackSpace", "Up", "Down", "Home", "End", "Prior",
              "Next", "Insert", "Delete", "KP_Divide", "KP_Enter")
BACKING_MNEMONICS = "nwrmcutd"
TARGETS = (panel_map.STYLE_BUTTONS + panel_map.KEY_LAMPS
           + [panel_map.PROGRAM_DOWN, panel_map.PROGRAM_UP, panel_map.MENU, panel_map.HOT_KEY,
              panel_map.ABOUT])


class Storm:
    def __init__(self, session, seed):
        self.session = session
        self.desktop = session.desktop
        self.random = random.Random(seed)
        self.events = 0
        self.actions = {}
        self.recent = []

    # ---- Sending -----------------------------------------------------------------------------

    def send(self, *commands):
        """Runs one chain of xdotool commands; counts the input events in it."""
        args = []
        for command in commands:
            args += [str(part) for part in command]
            if command[0] in ("mousemove", "click", "mousedown", "mouseup", "keydown", "keyup", "key"):
                self.events += 1 if command[0] != "click" else 2
        subprocess.run(["xdotool", *args], env=self.desktop.env(), check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def pause(self, longest=0.05):
        return ("sleep", f"{self.random.uniform(0, longest):.3f}")

    def on_screen(self, point):
        return 0 <= point[0] < self.desktop.width and 0 <= point[1] < self.desktop.height

    def point(self):
        """A random point of the panel on the screen, never on POWER."""
        while True:
            x = self.random.randrange(panel_map.PANEL_WIDTH)
            y = self.random.randrange(panel_map.PANEL_HEIGHT)
            if not panel_map.POWER.contains(x, y, margin=8) and self.on_screen(self.session.at((x, y))):
                return self.session.at((x, y))

    def target(self, targets=TARGETS):
        """A random point of a control on the screen, or of the panel when none is there."""
        for _ in range(20):
            rect = self.random.choice(targets)
            point = self.session.at((rect.x + self.random.randrange(rect.width),
                                     rect.y + self.random.randrange(rect.height)))
            if self.on_screen(point):
                return point
        return self.point()

    def piano_key(self):
        """A point of a random piano key on the screen, or of the panel when none is there."""
        for _ in range(20):
            point = self.session.at(panel_map.key_point(self.random.randrange(panel_map.KEY_COUNT)))
            if self.on_screen(point):
                return point
        return self.point()

    def keep_rack_on_screen(self):
        """Moves the window back to the middle of the screen once less than half of the rack
        is on it."""
        ox, oy = self.session.client_origin()
        visible_x = max(0, min(ox + panel_map.PANEL_WIDTH, self.desktop.width) - max(ox, 0))
        visible_y = max(0, min(oy + panel_map.PANEL_HEIGHT, self.desktop.height) - max(oy, 0))
        if visible_x * visible_y >= panel_map.PANEL_WIDTH * panel_map.PANEL_HEIGHT // 2:
            return
        _, _, width, height = self.session.frame()
        self.desktop.xdotool("windowmove", self.session.window.id,
                             (self.desktop.width - width) // 2, (self.desktop.height - height) // 2)
        time.sleep(0.2)

    def key_name(self):
        choice = self.random.random()
        if choice < 0.75:
            return keycode(self.random.choice(panel_map.PLAYING_SCAN_CODES))
        if choice < 0.85:
            return keycode(self.random.choice((panel_map.SCAN_F11, panel_map.SCAN_F12)))
        if choice < 0.92:
            return keycode(self.random.choice(panel_map.SILENT_SCAN_CODES))
        return self.random.choice(OTHER_KEYS)

    # ---- Actions -----------------------------------------------------------------------------

    def click_anywhere(self):
        x, y = self.point()
        self.send(("mousemove", x, y), ("click", 1))

    def click_control(self):
        x, y = self.target()
        self.send(("mousemove", x, y), ("click", 1))

    def double_click(self):
        x, y = self.target() if self.random.random() < 0.7 else self.point()
        self.send(("mousemove", x, y), ("click", "--repeat", 2, "--delay", 80, 1))

    def drag(self):
        x, y = self.point()
        modifier = self.random.choice((None, None, *MODIFIERS))
        chain = [("mousemove", x, y)]
        if modifier:
            chain.append(("keydown", modifier))
        button = self.random.choice((1, 1, 1, 2, 3))
        chain.append(("mousedown", button))
        for _ in range(self.random.randint(1, 6)):
            x, y = self.point() if self.random.random() < 0.9 else (
                self.random.randrange(self.desktop.width), self.random.randrange(self.desktop.height))
            chain += [self.pause(), ("mousemove", x, y)]
        chain += [self.pause(), ("mouseup", button)]
        if modifier:
            chain.append(("keyup", modifier))
        self.send(*chain)

    def hover_with_modifier(self):
        modifier = self.random.choice(MODIFIERS)
        chain = [("keydown", modifier)]
        for _ in range(self.random.randint(1, 5)):
            x, y = self.point()
            chain += [("mousemove", x, y), self.pause()]
        chain.append(("keyup", modifier))
        self.send(*chain)

    def tap_keys(self):
        chain = []
        for _ in range(self.random.randint(1, 6)):
            chain += [("key", "--delay", 20, self.key_name()), self.pause()]
        self.send(*chain)

    def hold_key(self):
        # Long enough now and then for the server to repeat the key.
        name = self.key_name()
        self.send(("keydown", name), self.pause(0.9), ("keyup", name))

    def overlap_keys(self):
        names = list(dict.fromkeys(self.key_name() for _ in range(self.random.randint(2, 5))))
        chain = [step for name in names for step in (("keydown", name), self.pause())]
        self.random.shuffle(names)
        chain += [step for name in names for step in (("keyup", name), self.pause())]
        self.send(*chain)

    def backing_from_menu(self):
        letter = self.random.choice(BACKING_MNEMONICS + "\x1b")
        last = ("key", "Escape") if letter == "\x1b" else ("key", letter)
        self.send(("key", "alt+b"), ("sleep", "0.15"), last)

    def play_thru_menu(self):
        """Opens Play Thru with Alt+T or F10, wanders, then chooses the monitor's port again
        (the item above the first, as the session chose it) or closes the menu."""
        opener = self.random.choice(("alt+t", "F10"))
        chain = [("key", opener), ("sleep", "0.15")]
        chain += [("key", self.random.choice(("Down", "Up")))] * self.random.randrange(4)
        if self.random.random() < 0.5:
            chain += [("key", "Escape")]
        else:
            chain += [("key", "Escape"), ("key", opener), ("sleep", "0.15"), ("key", "Up"),
                      ("key", "Return")]
        self.send(*chain)

    def menu_bar_keys(self):
        """Taps Alt alone, or F10 then Escape, and plays straight after."""
        chain = [("key", "alt")] if self.random.random() < 0.5 else [
            ("key", "F10"), ("sleep", "0.15"), ("key", "Escape")]
        chain += [("key", "--delay", 20, self.key_name())]
        self.send(*chain)

    def menu_while_holding(self):
        """Holds a key or a mouse button on the panel and opens a menu; lets go inside it, or
        chooses an instrument between the percussion map and a program and lets go after."""
        by_mouse = self.random.random() < 0.5
        x, y = self.piano_key()
        name = keycode(self.random.choice(panel_map.PLAYING_SCAN_CODES))
        hold, let_go = ((("mousemove", x, y), ("mousedown", 1)), (("mouseup", 1),)) if by_mouse \
            else ((("keydown", name),), (("keyup", name),))
        chain = [*hold, self.pause(0.3)]
        if self.random.random() < 0.5:
            opener = self.random.choice(("alt+b", "alt+k", "alt+t", "F10"))
            chain += [("key", opener), ("sleep", "0.15"), *let_go, self.pause(0.2), ("key", "Escape")]
        else:
            # The last item is the percussion map; the first group's first item a program.
            choice = [("key", "Up")] if self.random.random() < 0.5 else [
                ("key", "Down"), ("key", "Right"), ("sleep", "0.1")]
            chain += [("key", "alt+i"), ("sleep", "0.15"), *choice, ("key", "Return"),
                      self.pause(0.2), *let_go]
        self.send(*chain)

    def click_while_holding(self):
        """Holds a key and clicks a control: the program buttons change the instrument under
        it, across the percussion map now and then."""
        name = keycode(self.random.choice(panel_map.PLAYING_SCAN_CODES))
        x, y = self.target((panel_map.PROGRAM_DOWN, panel_map.PROGRAM_UP))
        self.send(("keydown", name), self.pause(0.2), ("mousemove", x, y), ("click", 1),
                  self.pause(0.2), ("keyup", name))

    def wheel(self):
        x, y = self.point()
        self.send(("mousemove", x, y), ("click", "--repeat", self.random.randint(1, 4),
                                        self.random.choice((4, 5))))

    def key_from_menu(self):
        self.send(("key", "alt+k"), ("sleep", "0.15"), ("key", self.random.choice("ud")))

    def instrument_from_menu(self):
        group = self.random.randrange(17)
        chain = [("key", "alt+i"), ("sleep", "0.15")]
        chain += [("key", "Down")] * group
        if group < 16:
            chain += [("key", "Right"), ("sleep", "0.1")]
            chain += [("key", "Down")] * self.random.randrange(8)
        chain.append(("key", "Return"))
        self.send(*chain)

    def help_from_menu(self):
        self.send(("key", "alt+h"), ("sleep", "0.15"), ("key", self.random.choice("ak")))

    WEIGHTED_ACTIONS = (
        (click_anywhere, 14), (click_control, 14), (double_click, 4), (drag, 10),
        (hover_with_modifier, 3), (tap_keys, 14), (hold_key, 5), (overlap_keys, 8),
        (backing_from_menu, 4), (key_from_menu, 2), (instrument_from_menu, 3), (help_from_menu, 1),
        (play_thru_menu, 2), (menu_bar_keys, 2), (menu_while_holding, 4), (click_while_holding, 3),
        (wheel, 2),
    )

    # ---- The storm ---------------------------------------------------------------------------

    def run(self, events, report=None):
        actions = [a for a, _ in self.WEIGHTED_ACTIONS]
        weights = [w for _, w in self.WEIGHTED_ACTIONS]
        reported = 0
        while self.events < events:
            status = self.session.varnek.poll()
            if status is not None:
                raise AssertionError(f"the program ended with status {status} during the storm, "
                                     f"after {self.events} events; last actions {self.recent}")
            self.close_dialogs(sometimes=True)
            self.keep_rack_on_screen()
            action = self.random.choices(actions, weights)[0]
            self.recent = (self.recent + [action.__name__])[-5:]
            action(self)
            self.actions[action.__name__] = self.actions.get(action.__name__, 0) + 1
            if report and self.events - reported >= 500:
                reported = self.events
                report(self.events)

    def dialogs(self):
        return [w for w, name, popup in self.desktop.top_levels() if not popup and name != "Varnek"]

    def close_dialogs(self, sometimes=False):
        """Closes the help dialogs; with `sometimes`, leaves them open a while now and then so
        that input also lands on them."""
        if sometimes and self.random.random() < 0.5:
            return
        for _ in range(10):
            if not self.dialogs():
                return
            self.send(("key", "Escape"))
            time.sleep(0.2)
