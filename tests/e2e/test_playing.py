"""Playing the piano keys with the mouse and the computer keyboard, as the MIDI port sees it."""

import collections
import itertools
import os
import re
import time
import unittest

import alsa
import e2e_config
import panel_map
import panel_state
import pitch
from controller import VARNEK_IN, VARNEK_OUT, Controller, Recorder, Thru
from jack import record
from midi_log import hex_list, note, program_change
from panel_map import PLAYING_SCAN_CODES as SCAN, keycode
from processes import read_text, wait_until
from varnek_session import START_TIMEOUT


def on(key, channel=1):
    return note(channel, panel_map.FIRST_NOTE + key, 0x7F)


def off(key, channel=1):
    return note(channel, panel_map.FIRST_NOTE + key, 0)


C4, D4, E4 = 31, 33, 35
F2, G2, A2, B2, C3 = 12, 14, 16, 18, 19
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")
# The README names keys as printed on a US keyboard; X names them by these keysyms.
US_KEYSYMS = {"`": "grave", "-": "minus", "=": "equal", "[": "bracketleft", "]": "bracketright",
              ";": "semicolon", ",": "comma", ".": "period", "/": "slash"}
PITCH_CLASSES = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def readme_keyboard_map():
    """[(keysym, MIDI note)] from the README's table of the computer keyboard."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    section = text[text.index("## The computer keyboard"):]
    section = section[:section.index("\n## ", 1)]
    pairs = []
    for line in section.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) != 3 or not re.search(r"\d", cells[2]) or "chord" in cells[2]:
            continue
        keys = cells[1].split()
        notes = re.findall(r"([A-G])(#?)(\d)", cells[2])
        for key, (name, sharp, octave) in zip(keys, notes, strict=True):
            number = 12 * (int(octave) + 1) + PITCH_CLASSES[name] + (1 if sharp else 0)
            pairs.append((US_KEYSYMS.get(key, key.lower() if len(key) == 1 else key), number))
    return pairs


class PlayingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = e2e_config.session().__enter__()
        cls.session.route_to_monitor()
        cls.session.desktop.auto_repeat()

    @classmethod
    def tearDownClass(cls):
        cls.session.end()

    def setUp(self):
        s = self.session
        s.keep_evidence_of(self)
        self.assertIsNone(s.varnek.poll(), "the program has ended")
        s.desktop.focus(s.window)
        s.monitor.settle(0, quiet=0.3)
        self.start = s.monitor.count()

    def received(self, quiet=0.6, expect=0):
        """What came since the last call (or the test's start), once `expect` messages have."""
        found = hex_list(self.session.monitor.settle(self.start, quiet=quiet, expect=expect))
        self.start += len(found)
        return found

    def assert_received(self, expected, message=None, quiet=0.6):
        self.assertEqual(self.received(quiet, len(expected)), expected, message)

    def test_glide_sounds_every_key_crossed_until_the_release(self):
        s = self.session
        glide = [F2, G2, A2, B2, C3]
        s.desktop.press(*s.at(panel_map.key_point(glide[0])))
        for key in glide[1:]:
            time.sleep(0.1)
            s.desktop.move(*s.at(panel_map.key_point(key)))
        time.sleep(0.1)
        s.desktop.release()
        # The key under the pointer lets go first, then the others in key order.
        expected = [on(k) for k in glide] + [off(C3)] + [off(k) for k in glide[:-1]]
        self.assert_received(expected)

    def test_a_quick_second_click_sounds_like_the_first(self):
        s = self.session
        s.desktop.move(*s.at(panel_map.key_point(C4)))
        # 150 ms apart, well within the desktop's double-click time.
        s.desktop.xdotool("click", "--repeat", 2, "--delay", 150, 1)
        self.assert_received([on(C4), off(C4), on(C4), off(C4)])

    def test_keyboard_plays_after_the_bars_go_and_come_back(self):
        s = self.session
        for _ in range(2):
            s.click_control(panel_map.MENU)
            time.sleep(0.8)
            s.desktop.move(0, 0)   # off the window: the keys follow the focus, not the pointer
            s.key(SCAN[C4])
            self.assert_received([on(C4), off(C4)])
        # A menu opened and closed from the keyboard hands the keys back to the panel.
        s.menu("b", "Escape")
        self.assertTrue(s.wait_menus_closed())
        s.key(SCAN[C4])
        self.assert_received([on(C4), off(C4)])

    def test_black_key_takes_the_click_where_it_covers_a_white_key(self):
        s = self.session
        c_sharp = 32
        rect = panel_map.key_rect(c_sharp)
        s.click((rect.x + 2, rect.y + rect.height - 3))
        self.assert_received([on(c_sharp), off(c_sharp)])

    def test_every_mapped_key_plays_its_note_and_others_play_nothing(self):
        s = self.session
        for scan in SCAN:   # from the lowest note up
            s.desktop.key(keycode(scan))
        s.desktop.key(*[keycode(scan) for scan in panel_map.SILENT_SCAN_CODES])
        expected = []
        for key in range(panel_map.KEY_COUNT):
            expected += [on(key), off(key)]
        self.assert_received(expected)

    def test_keyboard_map_of_the_readme(self):
        s = self.session
        pairs = readme_keyboard_map()
        self.assertEqual(len(pairs), panel_map.KEY_COUNT)
        s.desktop.key(*[keysym for keysym, _ in pairs])
        expected = []
        for _, number in pairs:
            expected += [note(1, number, 0x7F), note(1, number, 0)]
        self.assert_received(expected)

    def test_held_key_sounds_once_through_auto_repeat(self):
        s = self.session
        self.assertTrue(s.desktop.auto_repeat(), "the X server does not repeat keys")
        s.desktop.key_down(keycode(SCAN[D4]))
        time.sleep(1.5)   # well past the repeat delay: many repeated presses arrive
        s.desktop.key_up(keycode(SCAN[D4]))
        self.assert_received([on(D4), off(D4)])

    def test_chord_held_on_the_keyboard_lets_go_key_by_key(self):
        s = self.session
        chord = [C4, E4, 38]
        for key in chord:
            s.desktop.key_down(keycode(SCAN[key]))
            time.sleep(0.1)
        for key in reversed(chord):
            s.desktop.key_up(keycode(SCAN[key]))
            time.sleep(0.1)
        self.assert_received([on(k) for k in chord] + [off(k) for k in reversed(chord)])

    def test_mouse_release_leaves_keys_held_on_the_keyboard_sounding(self):
        s = self.session
        # A repeat of the held key would strike it again once the mouse has let go of it.
        s.desktop.auto_repeat(delay_ms=5000, rate_hz=25)
        self.addCleanup(s.desktop.auto_repeat, delay_ms=660, rate_hz=25)
        s.desktop.key_down(keycode(SCAN[C4]))
        time.sleep(0.2)
        s.click(panel_map.key_point(F2))
        time.sleep(0.3)
        s.desktop.key_up(keycode(SCAN[C4]))   # the computer key's own note ends with it
        self.assert_received([on(C4), on(F2), off(F2), off(C4)])

    def test_shift_glide_sounds_keys_until_a_plain_release(self):
        s = self.session
        s.desktop.move(*s.at(panel_map.key_point(C4)))
        s.desktop.key_down("Shift_L")
        for key in (D4, E4):
            time.sleep(0.1)
            s.desktop.move(*s.at(panel_map.key_point(key)))
        time.sleep(0.1)
        s.desktop.key_up("Shift_L")
        time.sleep(0.1)
        self.assert_received([on(D4), on(E4)])
        s.click(panel_map.BARE_RACK)
        self.assert_received([off(D4), off(E4)])


class KeysComeBackTest(unittest.TestCase):
    """Whatever takes the keyboard or the pointer from the panel, a menu above all, lets go of
    the keys held there, and the panel plays again as soon as no menu is open."""

    WINDOW_MANAGER = False

    @classmethod
    def setUpClass(cls):
        cls.session = e2e_config.session(window_manager=cls.WINDOW_MANAGER).__enter__()
        cls.session.route_to_monitor()

    @classmethod
    def tearDownClass(cls):
        cls.session.end()

    setUp = PlayingTest.setUp
    received = PlayingTest.received
    assert_received = PlayingTest.assert_received

    def assert_plays_at_once(self):
        self.assertTrue(self.session.wait_menus_closed())
        self.session.key(SCAN[C4])
        self.assert_received([on(C4), off(C4)])

    def test_keys_come_back_after_each_way_through_the_menu_bar(self):
        s = self.session
        s.menu("b", "Escape")
        self.assert_plays_at_once()
        s.menu("t", "Up", "Return")   # the open port again: nothing is sent
        self.assert_plays_at_once()
        s.desktop.key("alt")
        self.assert_plays_at_once()
        s.desktop.key("alt", "Escape")
        self.assert_plays_at_once()
        # F10 opens the first menu, Play Thru, at the left end of the bar.
        s.desktop.key("F10")
        opened = wait_until(s.desktop.popups, 5)
        self.assertTrue(opened, "F10 opened no menu")
        self.assertLess(abs(opened[0][0] - s.client_origin()[0]), 40)
        s.desktop.key("Escape")
        self.assert_plays_at_once()

    def test_a_menu_lets_go_of_keys_held_from_the_keyboard_and_the_mouse(self):
        s = self.session
        s.desktop.key_down(keycode(SCAN[C4]))
        time.sleep(0.3)
        s.menu("b")
        self.assert_received([on(C4), off(C4)], "let go as the menu opens")
        s.desktop.key_up(keycode(SCAN[C4]))
        s.desktop.key("Escape")
        self.assert_plays_at_once()
        # A key held by the mouse ends with the release, which the open menu receives.
        s.desktop.press(*s.at(panel_map.key_point(D4)))
        time.sleep(0.3)
        s.menu("b")
        self.assert_received([on(D4)])
        s.desktop.release()
        self.assert_received([off(D4)])
        s.desktop.key("Escape")
        self.assert_plays_at_once()

    def test_a_button_pressed_as_a_menu_opens_keeps_no_hold_on_the_pointer(self):
        s = self.session
        s.desktop.press(*s.at(panel_map.STYLE_BUTTONS[1].centre))   # Waltz
        time.sleep(0.3)
        s.menu("b")
        s.desktop.release()
        s.desktop.key("Escape")
        self.assertTrue(s.wait_menus_closed())
        # The next click plays its key, and no backing started.
        s.click(panel_map.key_point(E4))
        self.assert_received([on(E4), off(E4)], quiet=1.0)


class KeysComeBackUnderOpenboxTest(KeysComeBackTest):
    WINDOW_MANAGER = True


class ControllerTest(unittest.TestCase):
    """A controller plugged into Varnek's own input plays through the port chosen from Play Thru
    as the keys would, and Varnek's own output carries everything Varnek sends. Here on JACK;
    AlsaControllerTest below plays the same on the ALSA sequencer."""

    def setUp(self):
        s = self.session = e2e_config.session().__enter__()
        s.end_with(self)
        s.route_to_monitor()
        self.assertTrue(s.jack.wait_for_port(VARNEK_IN), f"no ports of Varnek's own: {s.jack.ports()}")
        self.heard = s.monitor
        self.recorder = Recorder(s.jack.name)
        self.addCleanup(self.recorder.close)
        self.controller = Controller(s.jack.name)
        self.addCleanup(self.controller.close)
        self.controller.client.connect(VARNEK_OUT, self.recorder.port)
        self.controller.plug_into()
        # The server carries a connection from the cycle in which it shows it to its clients.
        self.assertTrue(wait_until(lambda: self.connected(self.controller.port.name, VARNEK_IN) and
                                   self.connected(VARNEK_OUT, self.recorder.port), 5))

    def connected(self, source, destination):
        return destination in self.session.jack.connections().get(source, [])

    def wire_output_to_input(self):
        """Connects Varnek's output to its own input; returns whether that connection has gone."""
        self.controller.client.connect(VARNEK_OUT, VARNEK_IN)
        return lambda: not self.connected(VARNEK_OUT, VARNEK_IN)

    def unplug(self):
        self.controller.unplug()

    def play(self, *messages, expect=0):
        """What the chosen port and Varnek's own output heard of `messages`, once `expect` of them
        have come to each and then all is quiet."""
        start, own = self.heard.count(), self.recorder.count()
        self.controller.send(*messages)
        return (hex_list(self.heard.settle(start, expect=expect)),
                hex_list(self.recorder.settle(own, expect=expect)))

    def test_notes_and_controllers_play_as_the_keys_and_leave_by_varnek_out(self):
        clock, sensing = (0xF8,), (0xFE,)
        port, own = self.play(clock, (0x93, 60, 100), clock, (0xB5, 64, 127), (0xB5, 74, 9), (0xE2, 0, 80),
                              (0xD4, 33), sensing, (0x83, 60, 0), (0xB0, 64, 0), expect=6)
        expected = [note(1, 60, 100), "b0 40 7f", "e0 00 50", "d0 21", note(1, 60, 0), "b0 40 00"]
        self.assertEqual(port, expected)
        self.assertEqual(own, expected)

        # A program change chooses the instrument as the menu does, once, in its place among
        # the notes; the keys' own notes leave by Varnek's output too.
        port, own = self.play((0xC9, 40), expect=2)
        self.assertEqual(port, [program_change(1, 40), program_change(2, 40)])
        self.assertEqual(own, port)
        start = self.recorder.count()
        self.session.key(SCAN[C4])
        self.assertEqual(hex_list(self.recorder.wait_for(start, 2)), [on(C4), off(C4)])

        # The notes play on the input's own thread: a menu open on the panel does not hold them.
        self.session.menu("i")
        port, _ = self.play((0x90, 67, 70), (0x80, 67, 0), expect=2)
        self.assertEqual(port, [note(1, 67, 70), note(1, 67, 0)])
        self.session.desktop.key("Escape")
        self.session.wait_menus_closed()

    def test_held_notes_are_drawn_and_end_when_the_controller_is_unplugged(self):
        s = self.session
        # Varnek's output let into its own input would play every note again without end.
        self.assertTrue(wait_until(self.wire_output_to_input(), 5), "Varnek's output stays connected to its input")
        self.play((0x90, 60, 90), (0x90, 29, 90), (0x90, 100, 90), (0xB0, 64, 127), expect=4)
        self.assertEqual(wait_until(lambda: panel_state.keys_down(s) == [0, C4] or None, 5), True,
                         f"drawn down: {panel_state.keys_down(s)}")
        start = self.heard.count()
        self.unplug()
        ended = hex_list(self.heard.settle(start, expect=4))
        self.assertEqual(sorted(ended), sorted([note(1, 29, 0), note(1, 60, 0), note(1, 100, 0), "b0 40 00"]))
        self.assertTrue(wait_until(lambda: panel_state.keys_down(s) == [], 5), "keys left drawn down")

    def test_mouse_computer_key_and_controller_on_one_key_end_with_the_last(self):
        """A key held by the mouse, a computer key and the controller at once sounds once and
        ends only when the last of them lets go: every order of pressing, and every order of
        letting go."""
        s = self.session
        s.desktop.focus(s.window)
        point = s.at(panel_map.key_point(C4))
        c4 = keycode(SCAN[C4])
        hands = {
            "mouse": (lambda: s.desktop.press(*point), s.desktop.release),
            "key": (lambda: s.desktop.key_down(c4), lambda: s.desktop.key_up(c4)),
            "controller": (lambda: self.controller.send((0x92, 60, 90)),
                           lambda: self.controller.send((0x82, 60, 0))),
        }
        orders = list(itertools.permutations(hands))
        for shift, pressing in enumerate(orders):
            letting_go = orders[(shift + 1) % len(orders)]
            with self.subTest(pressing=pressing, letting_go=letting_go):
                start = self.heard.count()
                for hand in pressing:
                    hands[hand][0]()
                    self.heard.settle(start, quiet=0.2)
                for hand in letting_go:
                    self.assertEqual(len(self.heard.settle(start, quiet=0.2)), 1, f"ended before {hand} let go")
                    hands[hand][1]()
                played = hex_list(self.heard.settle(start, expect=2, quiet=0.3))
                velocity = 90 if pressing[0] == "controller" else 0x7F
                self.assertEqual(played, [note(1, 60, velocity), note(1, 60, 0)])
                self.assertTrue(wait_until(lambda: panel_state.keys_down(s) == [], 5), "C4 left drawn down")

    def loop_through_thru(self):
        """Puts a plain MIDI-thru client between Varnek's output and its input, beside the
        controller; returns what the line about the loop names, and how to take it away."""
        thru = Thru(self.session.jack.name)
        self.addCleanup(thru.close)
        thru.loop()
        self.assertTrue(wait_until(lambda: self.connected(VARNEK_OUT, "e2e-thru:in") and
                                   self.connected("e2e-thru:out", VARNEK_IN), 5))
        return "e2e-thru:out", thru.close

    def cross_connect_another_varnek(self):
        """Starts a second Varnek on the same desktop and server, each one's output into the
        other's input."""
        s = self.session
        other = s.processes.start("varnek-other", [s.program], env=s.program_env())
        self.assertTrue(s.desktop.wait_for_window(other.pid, "Varnek", START_TIMEOUT), "no second Varnek window")
        # It opens centred, over the first one, which comes back on top for the clicks.
        s.desktop.xdotool("windowraise", s.window.id)
        self.assertTrue(s.jack.wait_for_port("Varnek-01:MIDI in"), f"no second Varnek: {s.jack.ports()}")
        self.controller.client.connect(VARNEK_OUT, "Varnek-01:MIDI in")
        self.controller.client.connect("Varnek-01:MIDI out", VARNEK_IN)
        self.assertTrue(wait_until(lambda: self.connected("Varnek-01:MIDI out", VARNEK_IN), 5))

    def assert_stays_quiet(self, start):
        """Nothing more leaves Varnek's output after what came since `start`: a loop brought it
        back and it went no further."""
        heard = len(self.recorder.settle(start, quiet=1.0))
        self.assertFalse(wait_until(lambda: self.recorder.count() - start > heard, 2), "the loop goes on")

    def test_a_loop_is_noticed_and_never_fed(self):
        """Through a MIDI-thru client and through another Varnek, what Varnek sends comes back and
        goes no further: a program change, a note and its end in one cycle, a controller's value;
        the panel and the controller play as ever, and one line names the loop."""
        s = self.session
        looping, take_away = self.loop_through_thru()
        start = self.recorder.count()
        s.click_control(panel_map.PROGRAM_UP)
        self.assertEqual(hex_list(self.recorder.settle(start, expect=4)),
                         [program_change(1, 1), program_change(2, 1)] * 2)
        self.assert_stays_quiet(start)
        start = self.recorder.count()
        _, own = self.play((0x90, 64, 80), (0x80, 64, 0), (0xB1, 1, 60), expect=3)
        self.assertEqual(own, [note(1, 64, 80), note(1, 64, 0), "b0 01 3c"])
        self.assert_stays_quiet(start)
        start = self.recorder.count()
        s.key(SCAN[C4])
        self.assertEqual(hex_list(self.recorder.settle(start, expect=2)), [on(C4), off(C4)])
        log = read_text(s.varnek.log_path)
        self.assertEqual(log.count("a loop"), 1, log)
        self.assertIn(looping, log)

        take_away()
        self.cross_connect_another_varnek()
        start = self.recorder.count()
        s.click_control(panel_map.PROGRAM_UP)
        sent = hex_list(self.recorder.settle(start, expect=4))
        program = int(sent[0].split()[1], 16) if sent else -1
        self.assertEqual(sent, [program_change(1, program), program_change(2, program)] * 2)
        self.assert_stays_quiet(start)
        start = self.recorder.count()
        _, own = self.play((0x90, 64, 80), (0x80, 64, 0), expect=2)
        self.assertEqual(own, [note(1, 64, 80), note(1, 64, 0)])
        self.assert_stays_quiet(start)

    def play_on_the_synth(self):
        """Chooses the built-in synth from Play Thru; returns the JACK port it plays on."""
        s = self.session
        s.menu("t", "Return")   # the Midi Mapper, the first item
        s.wait_menus_closed()
        port = wait_until(lambda: next((p for p in s.jack.ports() or [] if p.startswith("Varnek Synth:")), None), 10)
        self.assertIsNotNone(port, f"the synth plays on no JACK port: {s.jack.ports()}")
        return port

    def record_synth(self, port, name, seconds):
        s = self.session
        path = os.path.join(s.dir, name + ".wav")
        recorder = record(s.processes, s.jack, port, path, seconds=seconds)
        recorder.wait(15 + seconds)
        s.processes.forget(recorder)
        return path

    def test_pitch_bend_and_pressure_play_on_the_synth(self):
        """The controller's pitch bend moves the synth's A4 (69) two semitones up."""
        port = self.play_on_the_synth()
        self.controller.send((0xE3, 0x7F, 0x7F), (0xD3, 100), (0x93, 69, 110))
        path = self.record_synth(port, "bent", 1.5)
        self.controller.send((0x83, 69, 0), (0xE3, 0x00, 0x40))
        heard = pitch.note_pitch(path)
        self.assertAlmostEqual(heard, 71, delta=0.3, msg=f"heard {heard} for A4 bent up")

    def test_bursts_leave_no_note_unpaired_and_the_synth_silent(self):
        """An organ holds 8 notes, then one cycle brings 1,100 modulation values and their 8
        note-offs; then a burst of 10,000 messages, 5,000 notes struck and let go at once. Varnek's
        output carries no note-on without its note-off, and the synth falls silent."""
        s = self.session
        port = self.play_on_the_synth()
        chord = list(range(60, 68))
        start = self.recorder.count()
        self.play((0xC0, 16), *[(0x90, n, 100) for n in chord], expect=10)
        self.controller.send(*[(0xB0, 1, i % 128) for i in range(1100)], *[(0x80, n, 0) for n in chord])
        burst = []
        for i in range(5000):
            burst += [(0x90 | i % 16, 24 + i % 80, 1 + i % 127), (0x80 | i % 16, 24 + i % 80, 0)]
        self.controller.send(*burst)
        self.assertTrue(wait_until(self.controller.sent_all, 20), "the controller could not send it all")
        played = self.recorder.settle(start, quiet=1.0, timeout=30)
        self.assertEqual(unpaired_note_ons(played), {}, f"{len(played)} messages on Varnek's output")
        time.sleep(2.0)   # the last notes' release
        samples, _ = pitch.read_wav(self.record_synth(port, "after", 1.0))
        self.assertLess(pitch.peak_level(samples), 0.003, "the synth sounds on")

    def test_the_left_hand_names_the_chord_while_a_backing_plays(self):
        s = self.session
        s.click_control(panel_map.STYLE_BUTTONS[2])   # Rock
        port, _ = self.play((0x90, 38, 80))           # D2, below F2
        self.assertNotIn(note(1, 38, 80), port)
        d_lamp = panel_map.KEY_LAMP_C + 2
        self.assertTrue(wait_until(lambda: panel_state.lit(panel_state.lamps(s)[1]) == [d_lamp], 5))
        # Rock's root tone now sounds on D.
        start = self.heard.count()
        self.assertIn(note(2, 48 + 2, 0x3F), hex_list(self.heard.wait_for(start, 30, timeout=3)))
        port, _ = self.play((0x80, 38, 0), (0x90, 64, 80), expect=1)  # above it, a note sounds
        self.assertIn(note(1, 64, 80), port)
        self.assertNotIn(note(1, 38, 0), port)


def unpaired_note_ons(messages):
    """{(status, note): how many} of the note-ons in `messages` that no note-off ends."""
    sounding = collections.Counter()
    for message in messages:
        if len(message.data) != 3 or message.status & 0xE0 != 0x80:
            continue
        where = (message.status & 0x0F, message.data[1])
        if message.status & 0xF0 == 0x90 and message.data[2] != 0:
            sounding[where] += 1
        elif sounding[where] > 0:
            sounding[where] -= 1
    return {where: count for where, count in sounding.items() if count}


class AlsaControllerTest(ControllerTest):
    """The same on the ALSA sequencer, with no JACK server (in tools/alsa_vm's machine): the
    controller is the virtual port 0-0, Play Thru the virtual port 0-2 and Varnek's output goes
    to the virtual port 0-1."""

    def setUp(self):
        s = self.session = e2e_config.session(jack=False).__enter__()
        self.addCleanup(s.__exit__, None, None, None)
        self.heard, self.recorder = alsa.RawMidiMonitor(2), alsa.RawMidiMonitor(1)
        self.controller = alsa.RawController(0)
        for opened in (self.heard, self.recorder, self.controller):
            self.addCleanup(opened.close)
        # The virtual ports come last in Play Thru, 0-2 the last but one; opening it sends the
        # instrument.
        s.menu("t", "Up", "Up", "Return")
        s.wait_menus_closed()
        self.assertTrue(self.heard.wait_for(0, 2), "the virtual port 0-2 was not chosen")
        self.varnek_in = wait_until(lambda: alsa.address("Varnek", "MIDI in"), 10)
        self.varnek_out = alsa.address("Varnek", "MIDI out")
        self.assertTrue(self.varnek_in and self.varnek_out, f"no ports of Varnek's own: {alsa.clients()}")
        alsa.connect(self.varnek_out, alsa.virtual_port(1))
        self.controller.plug_into(self.varnek_in)

    def wire_output_to_input(self):
        alsa.connect(self.varnek_out, self.varnek_in)
        return lambda: self.varnek_in not in alsa.connections(self.varnek_out)

    def unplug(self):
        self.controller.unplug(self.varnek_in)

    # These listen to the synth on JACK; on ALSA the synth is heard on the loopback card in
    # test_sound's ALSA tests.
    test_pitch_bend_and_pressure_play_on_the_synth = None
    test_bursts_leave_no_note_unpaired_and_the_synth_silent = None

    def loop_through_thru(self):
        thru = alsa.address("Midi Through", "Midi Through Port-0")
        alsa.connect(self.varnek_out, thru)
        alsa.connect(thru, self.varnek_in)

        def take_away():
            alsa.disconnect(self.varnek_out, thru)
            alsa.disconnect(thru, self.varnek_in)
        return "sequencer input", take_away

    def cross_connect_another_varnek(self):
        s = self.session
        other = s.processes.start("varnek-other", [s.program], env=s.program_env())
        self.assertTrue(s.desktop.wait_for_window(other.pid, "Varnek", START_TIMEOUT), "no second Varnek window")
        s.desktop.xdotool("windowraise", s.window.id)
        others = wait_until(lambda: [a for a in alsa.addresses("Varnek", "MIDI in") if a != self.varnek_in],
                            START_TIMEOUT)
        self.assertTrue(others, f"no second Varnek: {alsa.clients()}")
        other_in = others[0]
        client = other_in.split(":")[0]
        other_out = [a for a in alsa.addresses("Varnek", "MIDI out") if a.split(":")[0] == client][0]
        alsa.connect(self.varnek_out, other_in)
        alsa.connect(other_out, self.varnek_in)


if __name__ == "__main__":
    unittest.main()
