"""The window as the desktop sees it: title, size, place, menu bar, the bare rack and its
drag, and the first choice of an output port; and the panel as a screen reader finds it through
AT-SPI, and as Orca speaks it."""

import math
import time
import unittest
from contextlib import closing

import bitmaps
import e2e_config
import midi_log
import panel_map
from controller import VARNEK_IN, Controller
from jack import MidiMonitor
from processes import wait_until
from varnek_session import centred
from screen_reader import Atspi, children, named, states


# The names of the notes in an octave, as a screen reader reads the keys ("C4" for note 60).
NOTE_NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]

# A column of bare rack through the grille left of the chord lamps, over rows 66 to 100.
GRILLE_X = 60
GRILLE_ROWS = range(66, 100)


class WindowPlacementTest(unittest.TestCase):
    """Where the window stands: centred on the work area with the window manager's frame, and
    the rack where it was through MENU, a drag of the bare rack and MENU again."""
    window_manager = False

    def session(self, **options):
        return e2e_config.session(window_manager=self.window_manager, **options)

    def check_frame(self, screen):
        with self.session(screen=screen, monitor=False) as s:
            x, y, width, height = s.frame()
            menu_bar = height - panel_map.PANEL_HEIGHT
            self.assertEqual(width, panel_map.PANEL_WIDTH)
            self.assertGreater(menu_bar, 10, "no menu bar above the rack")
            self.assertLess(menu_bar, 60)
            # Centred is the window as the desktop shows it, with the window manager's frame.
            outer = s.desktop.outer_geometry(s.window)
            self.assertEqual(outer[:2], centred(s.work_area(), outer[2:]), f"window at {s.frame()}")

    def test_titled_window_with_rack_client_area_centred_on_screen(self):
        self.check_frame((800, 400))

    def test_menu_button_hides_the_bars_and_the_bare_rack_drags(self):
        with self.session(monitor=False) as s:
            before = s.frame()
            rack = s.client_origin()
            s.desktop.watch_structure(s.window)

            presses = []

            def menu(height):
                # Each press a few pixels off the last, so that no two make a double-click.
                presses.append(None)
                s.click((panel_map.MENU.x + (8 if len(presses) % 2 else 22), panel_map.MENU.centre[1]))
                self.assertTrue(wait_until(lambda: s.frame()[3] == height, 5), f"{s.frame()} after MENU")
                # Where a window manager frames the window where it likes, the program moves it
                # back once, as soon as it knows where the window landed.
                wait_until(lambda: s.client_origin() == rack, 5)
                self.assertEqual(s.client_origin(), rack, "MENU moved the rack")

            menu(panel_map.PANEL_HEIGHT)
            self.assertEqual(s.frame()[2], panel_map.PANEL_WIDTH)

            # Dragged by its body, the rack follows the pointer.
            grab = s.at(panel_map.BARE_RACK)
            s.desktop.press(*grab)
            for step in (10, 20, 30):
                s.desktop.move(grab[0] + step, grab[1] + step // 2)
                time.sleep(0.1)
            s.desktop.release()
            rack = (rack[0] + 30, rack[1] + 15)
            self.assertTrue(wait_until(lambda: s.frame()[:2] == rack, 5),
                            f"rack at {s.frame()[:2]}, expected {rack}")
            # Grabbed again at once, within the double-click time, it drags all the same.
            grab = (grab[0] + 30, grab[1] + 15)
            s.desktop.press(*grab)
            s.desktop.move(grab[0] + 10, grab[1])
            time.sleep(0.1)
            s.desktop.release()
            rack = (rack[0] + 10, rack[1])
            self.assertTrue(wait_until(lambda: s.frame()[:2] == rack, 5),
                            f"rack at {s.frame()[:2]} after a quick grab, expected {rack}")

            menu(before[3])
            self.assertEqual(s.frame()[2:], before[2:])
            # The window stayed on the screen all along, in one of its two sizes.
            time.sleep(0.3)
            sizes = {("size", *before[2:]), ("size", panel_map.PANEL_WIDTH, panel_map.PANEL_HEIGHT)}
            changes = s.desktop.structure_changes()
            self.assertEqual([c for c in changes if c not in sizes], [], changes)
            menu(panel_map.PANEL_HEIGHT)
            menu(before[3])

            # A click lands where the panel is drawn: ABOUT opens About, not the Keyboard
            # Mapping of HOT-KEY above it.
            s.click_control(panel_map.ABOUT)
            self.assertIsNotNone(s.desktop.wait_for_window(s.varnek.pid, "About Varnek", 5))
            s.desktop.key("Escape")


class WindowTest(WindowPlacementTest):
    def test_window_taller_than_the_screen_stays_within_it(self):
        self.check_frame((640, 200))

    def test_fixed_size_offers_no_maximise(self):
        with self.session(monitor=False) as s:
            hints = s.window.get_wm_normal_hints()
            size = list(s.frame()[2:])
            self.assertEqual([hints.min_width, hints.min_height, hints.max_width, hints.max_height], size + size)
            functions, decorations = s.desktop.property(s.window, "_MOTIF_WM_HINTS")[1:3]
            self.assertEqual((functions & 0x10, decorations & 0x40), (0, 0), "Motif hints offer to maximise")
            allowed = s.desktop.atom_names(s.desktop.property(s.window, "_NET_WM_ALLOWED_ACTIONS"))
            self.assertEqual([action for action in allowed if "MAXIMIZE" in action], [])

    def test_keys_that_close_dialogs_leave_the_panel_open(self):
        with self.session(monitor=False) as s:
            s.desktop.key("Escape", "Return", "space", "KP_Enter")
            time.sleep(0.5)
            self.assertIsNone(s.varnek.poll(), "the panel closed")
            self.assertIsNotNone(s.desktop.window_of(s.varnek.pid, "Varnek"))


class WindowUnderOpenboxTest(WindowTest):
    """The same under a window manager that frames the window, as on a user's desktop."""
    window_manager = "openbox"


class WindowUnderMutterTest(WindowTest):
    """GNOME's window manager puts the corner of a frame that comes back where the client was,
    and does not always tell the frame before it shows the window."""
    window_manager = "mutter"


class WindowUnderKWinTest(WindowTest):
    """KDE's window manager never tells the frame before it shows the window."""
    window_manager = "kwin"


class WindowUnderIcewmTest(WindowPlacementTest):
    """A taskbar at the bottom of the screen takes its share of it."""
    window_manager = "icewm"


class WindowUnderFluxboxTest(WindowPlacementTest):
    window_manager = "fluxbox"


class WindowUnderFvwm3Test(WindowPlacementTest):
    """fvwm3 keeps its panel at the side of the screen, keeps its frame on the bare rack, and
    now and then leaves a window where it was when it takes a new size."""
    window_manager = "fvwm3"


class WindowUnderI3Test(WindowPlacementTest):
    """i3 tells no frame, and puts the corner of its frame where the window was to be."""
    window_manager = "i3"


class WindowUnderBspwmTest(WindowPlacementTest):
    """bspwm frames a window with a border of the window's own, and tells no frame."""
    window_manager = "bspwm"


class TwiceTheScaleTest(unittest.TestCase):
    """On a screen at twice the scale every piece of pixel art is drawn with 2 x 2 device pixels
    for each of its own, never blended."""

    def test_cursors_and_the_about_logo_are_doubled_pixel_for_pixel(self):
        with e2e_config.session(screen=(1400, 600), monitor=False, scale=2) as s:
            self.assertEqual(s.frame()[2], 2 * panel_map.PANEL_WIDTH)
            key = s.at(panel_map.key_point(0))
            s.desktop.move(*key)
            s.desktop.move(key[0] + 1, key[1])
            # The open hand over a key that is up, the pointing hand over one held down; both
            # with their hot spot (3, 4) on the same pixel of the art.
            self.assertTrue(wait_until(lambda: s.desktop.cursor() == (64, 64, 6, 8), 5), s.desktop.cursor())
            s.desktop.press(*key)
            self.assertTrue(wait_until(lambda: s.desktop.cursor() == (64, 64, 6, 8), 5), s.desktop.cursor())
            s.desktop.release()

            # The rack itself, pixel for pixel.
            rack = bitmaps.load("RACK")
            x, y = s.at((GRILLE_X, GRILLE_ROWS[0]))
            column = [row[0] for row in s.desktop.pixels(x, y, 1, 2 * len(GRILLE_ROWS))]
            self.assertEqual(column, [rack[GRILLE_ROWS[0] + i // 2][GRILLE_X] for i in range(len(column))])

            s.click_control(panel_map.ABOUT)
            about = s.desktop.wait_for_window(s.varnek.pid, "About Varnek", 5)
            self.assertIsNotNone(about)
            x, y, width, height = s.desktop.geometry(about)

            def logo():
                """The top quarter of the dialog and the box of what is drawn on its plain
                background there, once anything is."""
                rows = s.desktop.pixels(x, y, width, height // 4)
                spots = [(col, row) for row, line in enumerate(rows) for col, pixel in enumerate(line)
                         if pixel != rows[0][0]]
                if not spots:
                    return None
                return rows, (min(c for c, _ in spots), min(r for _, r in spots),
                              max(c for c, _ in spots) + 1, max(r for _, r in spots) + 1)
            # The logo lies above the text, on the dialog's plain background.
            drawn = wait_until(logo, 5)
            self.assertIsNotNone(drawn, "nothing drawn above the text")
            rows, (left, top, right, bottom) = drawn
            self.assertEqual((right - left, bottom - top), (32, 28), "the 16 x 14 logo, doubled")
            blended = [(col, row) for row in range(top, bottom, 2) for col in range(left, right, 2)
                       if len({rows[row][col], rows[row][col + 1], rows[row + 1][col],
                               rows[row + 1][col + 1]}) > 1]
            self.assertEqual(blended, [], "logo pixels blended with their neighbours")
            s.desktop.key("Escape")


class FractionalScaleTest(unittest.TestCase):
    """A desktop at 1.5 (Xft.dpi 144) gets the panel at 1.5, not rounded up to 2. The art is
    drawn at twice its size and averaged down, so every pixel of it keeps its weight; scaled by
    nearest neighbour, one grille line took one device pixel, the next two."""

    def test_grille_lines_and_black_keys_come_out_alike(self):
        with e2e_config.session(screen=(1000, 500), monitor=False, scale=1.5, desktop_scale=True) as s:
            self.assertEqual(s.frame()[2], 900)
            rack = [row[GRILLE_X][0] for row in bitmaps.load("RACK")]
            x, y = map(int, s.at((GRILLE_X, 0)))

            # Two rows of the art make three device rows, which carry their weight to a rounding.
            def misweighted():
                shown = [row[0][0] for row in s.desktop.pixels(x, y, 1, 300)]
                pairs = [(sum(shown[a * 3 // 2:a * 3 // 2 + 3]), 1.5 * (rack[a] + rack[a + 1]))
                         for a in GRILLE_ROWS[::2]]
                return [pair for pair in pairs if abs(pair[0] - pair[1]) > 2]
            self.assertTrue(wait_until(lambda: not misweighted(), 5), misweighted())

            # Every black key starts at the same place within a device pixel: all look the same.
            row = s.desktop.pixels(*map(int, s.at((0, 150))), 900, 1)[0]
            black = [panel_map.key_rect(k).x for k in range(panel_map.KEY_COUNT) if panel_map.is_black(k)]
            self.assertEqual(len({tuple(row[(left - 1) * 3 // 2:][:21]) for left in black}), 1)


class KeyBoundaryTest(unittest.TestCase):
    """At a scale above 1 a pixel of the panel covers several device pixels: each of them plays
    the key drawn there, up to the last one before the next key."""

    def test_the_device_pixels_each_side_of_every_key_boundary_play_the_key_drawn(self):
        for scale, screen in ((2, (1400, 600)), (1.75, (1200, 500))):
            with self.subTest(scale=scale), e2e_config.session(screen=screen, scale=scale) as s:
                s.route_to_monitor()
                start = s.monitor.count()
                ox, oy = s.client_origin()
                commands, expected, boundaries = [], [], set()
                # Through the black keys, and below them, where the white keys meet.
                for y in (150, 190):
                    row = [panel_map.key_at(x, y) for x in range(panel_map.PANEL_WIDTH)]
                    for x in range(1, panel_map.PANEL_WIDTH):
                        if row[x] == row[x - 1] or None in (row[x], row[x - 1]):
                            continue
                        boundaries.add((row[x - 1], row[x]))
                        first = math.ceil(x * scale)
                        for pixel in (first - 1, first):
                            key = panel_map.key_at(int((pixel + 0.5) / scale), y)
                            commands += ["mousemove", ox + pixel, oy + round((y + 0.5) * scale), "click", 1]
                            expected += [midi_log.note(1, panel_map.FIRST_NOTE + key, 0x7F),
                                         midi_log.note(1, panel_map.FIRST_NOTE + key, 0)]
                self.assertEqual(len(boundaries), 67)
                s.desktop.xdotool(*commands)
                played = midi_log.hex_list(s.monitor.settle(start, expect=len(expected)))
                wrong = [(i // 2, want, got) for i, (want, got) in enumerate(zip(expected, played)) if want != got]
                self.assertEqual(len(played), len(expected))
                self.assertEqual(wrong[:5], [], f"{len(wrong)} of {len(expected)} messages")


class ScreenReaderTest(unittest.TestCase):
    """What a screen reader finds through AT-SPI: the frame, the panel's controls by name with
    their roles and states, the changes as they come, and the Key menu's shortcuts as keys."""

    def test_a_screen_reader_finds_the_controls_and_follows_them(self):
        with e2e_config.session(monitor=False, screen_reader=True) as s:
            reader = s.screen_reader
            app = reader.wait(lambda: reader.application("Varnek"), 10)
            self.assertIsNotNone(app, "the program is not on the accessibility bus")
            frame = children(app)[0]
            self.assertEqual((frame.get_role_name(), frame.get_name()), ("frame", "Varnek"))
            bar, panel = children(frame)
            self.assertEqual(named(panel, "POWER").get_role_name(), "push button")
            self.assertEqual(named(panel, "Program").get_role_name(), "dial")

            # A key played on the computer keyboard reads as pressed while it is down.
            c4 = named(panel, "C4")
            self.assertEqual(c4.get_role_name(), "push button")
            place = c4.get_extents(Atspi.CoordType.SCREEN)
            key = panel_map.key_rect(panel_map.key_for_note(60))
            self.assertEqual((place.x, place.y, place.width, place.height), (*s.at((key.x, key.y)), 20, 70))
            keycode = panel_map.keycode(panel_map.PLAYING_SCAN_CODES[panel_map.key_for_note(60)])
            s.desktop.key_down(keycode)
            self.assertTrue(reader.wait(lambda: ("object:state-changed:pressed", "C4", 1, None) in reader.events),
                            reader.events)
            self.assertIn("pressed", states(c4))
            s.desktop.key_up(keycode)
            self.assertTrue(reader.wait(lambda: ("object:state-changed:pressed", "C4", 0, None) in reader.events))

            # The lit style and chord lamp read as checked, and the change is announced: the
            # panel, which has the focus, describes it.
            news = "object:property-change:accessible-description"
            s.click_control(panel_map.STYLE_BUTTONS[2])
            lit = ("object:state-changed:checked", "ROCK", 1, None)
            self.assertTrue(reader.wait(lambda: lit in reader.events), reader.events)
            self.assertIn((news, "Varnek", 0, "Backing ROCK"), reader.events)
            self.assertNotIn("checked", states(named(panel, "NONE")))
            s.key(panel_map.SCAN_F12)
            self.assertTrue(reader.wait(lambda: "checked" in states(named(panel, "C#"))))
            self.assertEqual(named(panel, "C#").get_role_name(), "radio button")
            self.assertTrue(reader.wait(lambda: (news, "Varnek", 0, "Chord key C#") in reader.events))

            # The LED line reads its text, and says when it changes.
            s.click_control(panel_map.PROGRAM_UP)
            led = "PROGRAM 1:  Bright acoustic piano"
            inserted = ("object:text-changed:insert", led, 0, led)
            self.assertTrue(reader.wait(lambda: inserted in reader.events), reader.events)
            self.assertIn((news, "Varnek", 0, led), reader.events)
            self.assertEqual(named(panel, led).get_role_name(), "label")
            self.assertEqual(named(panel, led).get_text_iface().get_text(0, -1), led)
            self.assertEqual(named(panel, "Program").get_current_value(), 1)

            key_up = children(named(bar, "Key"))[0].get_child_at_index(0)
            self.assertEqual(key_up.get_name().strip(), "Key Up")
            self.assertEqual(key_up.get_action_iface().get_key_binding(0), "F12")

    def test_every_control_works_through_at_spi_and_alt_m_brings_the_menu_back(self):
        with e2e_config.session(screen_reader=True) as s:
            s.route_to_monitor()
            reader = s.screen_reader
            app = reader.wait(lambda: reader.application("Varnek"), 10)
            panel = children(children(app)[0])[1]

            def press(accessible):
                accessible.get_action_iface().do_action(0)

            # A key's press plays it as a short click does.
            for key in range(panel_map.KEY_COUNT):
                number = panel_map.FIRST_NOTE + key
                start = s.monitor.count()
                press(named(panel, NOTE_NAMES[number % 12] + str(number // 12 - 1)))
                self.assertEqual(midi_log.hex_list(s.monitor.wait_for(start, 2)),
                                 [midi_log.note(1, number, 0x7F), midi_log.note(1, number, 0)])

            # Lamps and style buttons light as clicked, the program buttons step, and the dial's
            # value turns the knob, which sends the program change.
            controls = children(panel)
            lamps = [c for c in controls if c.get_role_name() == "radio button"]
            self.assertEqual(len(lamps), 12)
            for choice in lamps + [named(panel, style.upper()) for style in reversed(panel_map.STYLE_NAMES)]:
                press(choice)
                self.assertTrue(reader.wait(lambda: "checked" in states(choice)), choice.get_name())
            dial = named(panel, "Program")
            press(named(panel, "Program down"))
            self.assertTrue(reader.wait(lambda: dial.get_current_value() == 128))
            press(named(panel, "Program up"))
            self.assertTrue(reader.wait(lambda: dial.get_current_value() == 0))
            s.monitor.settle(s.monitor.count())
            start = s.monitor.count()
            dial.set_current_value(10)
            self.assertEqual(midi_log.hex_list(s.monitor.settle(start, expect=2)),
                             [midi_log.program_change(1, 10), midi_log.program_change(2, 10)])
            self.assertIsNotNone(named(panel, "PROGRAM 10:  Music box"))

            # HOT-KEY and ABOUT open their dialogs, whose buttons a reader presses too.
            for button, close in (("HOT-KEY", "Space  (Exit)"), ("ABOUT", "OK")):
                press(named(panel, button))
                dialog = reader.wait(lambda: next((w for w in children(app) if w.get_role_name() == "dialog"), None))
                self.assertIsNotNone(dialog, button)
                press(named(dialog, close))
                self.assertTrue(reader.wait(lambda: len(children(app)) == 1), button)

            # MENU hides the bars, and Alt+M brings them back from the keyboard.
            before = s.frame()
            press(named(panel, "MENU"))
            self.assertTrue(wait_until(lambda: s.frame()[3] == panel_map.PANEL_HEIGHT, 5), s.frame())
            s.desktop.key("alt+m")
            self.assertTrue(wait_until(lambda: s.frame()[2:] == before[2:], 5), s.frame())

            press(named(panel, "POWER"))
            self.assertEqual(s.wait_for_exit(), 0)

    def test_orca_started_after_the_program_speaks_the_panel_and_each_change(self):
        with e2e_config.session(screen_reader="later") as s, closing(Controller(s.jack.name)) as controller:
            self.assertTrue(s.jack.wait_for_port(VARNEK_IN), s.jack.ports())
            controller.plug_into()
            self.assertTrue(wait_until(lambda: VARNEK_IN in s.jack.connections().get(controller.port.name, []), 5))
            # The user has Varnek's window active, then turns the screen reader on.
            s.desktop.focus(s.window)
            start = time.monotonic()
            orca = s.start_orca()
            self.assertTrue(orca.wait_to_say("Varnek panel", start, 20), orca.said_since(start))
            self.assertTrue(orca.wait_to_say("PROGRAM 0:  Acoustic grand piano", start), orca.said_since(start))

            def speaks_at_once(words, action):
                before = time.monotonic()
                action()
                said = orca.wait_to_say(words, before)
                self.assertIsNotNone(said, f"{words!r} not among {orca.said_since(before)}")
                self.assertLess(said - before, 1.0, words)

            speaks_at_once("PROGRAM 1:  Bright acoustic piano", lambda: s.click_control(panel_map.PROGRAM_UP))
            speaks_at_once("Backing ROCK", lambda: s.click_control(panel_map.STYLE_BUTTONS[2]))
            speaks_at_once("Chord key C#", lambda: s.key(panel_map.SCAN_F12))
            speaks_at_once("PROGRAM 5:  Chorused piano", lambda: controller.send((0xC0, 5)))
            app = s.screen_reader.application("Varnek")
            dial = named(children(children(app)[0])[1], "Program")
            speaks_at_once("PROGRAM 10:  Music box", lambda: dial.set_current_value(10))


class OutputPortTest(unittest.TestCase):
    def test_choosing_a_port_sends_the_current_program_on_channels_1_and_2(self):
        with e2e_config.session() as s:
            received = s.route_to_monitor()
            self.assertEqual(midi_log.hex_list(s.monitor.settle(0)),
                             [midi_log.program_change(1, 0), midi_log.program_change(2, 0)],
                             midi_log.hex_list(received))
            connected = s.jack.connections().get(s.monitor.port, [])
            self.assertEqual(len(connected), 1, connected)

            # The item that carries the mark is the port in use: choosing it again sends nothing.
            s.route_to_monitor()
            time.sleep(0.5)
            self.assertEqual(s.monitor.count(), 2)

    def test_the_port_list_follows_the_machine(self):
        C4 = panel_map.PLAYING_SCAN_CODES[31]
        with e2e_config.session(monitor=False) as s:
            # Both ports come after the program started; JACK's come last in the list.
            s.monitor = MidiMonitor(s.processes, s.jack)
            s.route_to_monitor()
            start = s.monitor.count()
            s.key(C4)
            self.assertIn(midi_log.note(1, 60, 0x7F), midi_log.hex_list(s.monitor.wait_for(start, 2)))

            late = MidiMonitor(s.processes, s.jack, client="e2e-late")
            s.menu("t", "Up", "Return")
            s.wait_menus_closed()
            self.assertEqual(midi_log.hex_list(late.wait_for(0, 2)),
                             [midi_log.program_change(1, 0), midi_log.program_change(2, 0)])

            # Gone, its item goes: the last item is the first monitor again.
            s.processes.stop(late.process)
            self.assertTrue(wait_until(lambda: late.port not in (s.jack.ports() or []), 5))
            start = s.monitor.count()
            s.route_to_monitor()
            self.assertEqual(midi_log.hex_list(s.monitor.wait_for(start, 2)),
                             [midi_log.program_change(1, 0), midi_log.program_change(2, 0)])


if __name__ == "__main__":
    unittest.main()
