"""Choosing the instrument from the menu, the program buttons and the knob, and the percussion
map on channel 10."""

import math
import time
import unittest

import e2e_config
import panel_map
from midi_log import hex_list, note, program_change
from panel_map import PLAYING_SCAN_CODES as SCAN, keycode


def programs(*numbers):
    """Each choice sends its program on channel 1, then on channel 2."""
    sent = []
    for number in numbers:
        sent += [program_change(1, number), program_change(2, number)]
    return sent


def chosen_from_menu(number):
    # A choice made elsewhere turns the knob, which hands the same choice back once more.
    return programs(number, number)


VIOLIN = 40
F1, B1, C4 = 0, 6, 31


class InstrumentTest(unittest.TestCase):
    def setUp(self):
        self.session = e2e_config.session().__enter__()
        self.session.end_with(self)
        self.session.route_to_monitor()
        self.session.desktop.focus(self.session.window)
        self.mark()

    def mark(self):
        self.session.monitor.settle(0, quiet=0.3)
        self.start = self.session.monitor.count()

    def received(self, quiet=0.8, expect=0):
        found = hex_list(self.session.monitor.settle(self.start, quiet=quiet, expect=expect))
        self.mark()
        return found

    def assert_received(self, expected, message=None):
        self.assertEqual(self.received(expect=len(expected)), expected, message)

    def tap(self, key):
        self.session.key(SCAN[key])

    def test_violin_from_the_menu(self):
        s = self.session
        # Strings is the sixth group; its first item is Violin.
        s.menu("i", "Down", "Down", "Down", "Down", "Down", "Right", "Return")
        self.assertTrue(s.wait_menus_closed())
        self.assert_received(chosen_from_menu(VIOLIN))
        self.tap(C4)
        self.assert_received([note(1, 60, 127), note(1, 60, 0)])

    def test_program_buttons_step_through_the_percussion_map(self):
        s = self.session
        s.click_control(panel_map.PROGRAM_DOWN)
        self.assert_received([], "the percussion map has no program change")
        # The six lowest keys play drums above the keyboard's range, the others their own note.
        self.tap(F1)
        self.tap(B1)
        self.tap(C4)
        self.assert_received([note(10, 77, 127), note(10, 77, 0),
                                           note(10, 35, 127), note(10, 35, 0),
                                           note(10, 60, 127), note(10, 60, 0)])
        time.sleep(0.6)   # apart, so that two clicks are not a double-click
        s.click_control(panel_map.PROGRAM_UP)
        self.assert_received(chosen_from_menu(0))
        time.sleep(0.6)
        s.click_control(panel_map.PROGRAM_UP)
        self.assert_received(chosen_from_menu(1))
        self.tap(F1)
        self.assert_received([note(1, 29, 127), note(1, 29, 0)])

    def test_percussion_map_from_the_menu_and_a_key_held_across_the_change(self):
        s = self.session
        self.assertTrue(s.hold_key(SCAN[C4]))
        s.menu("i", "Up", "Return")   # the last item, below the sixteen groups
        self.assertTrue(s.wait_menus_closed())
        s.desktop.key_up(keycode(SCAN[C4]))
        # The menu took the keyboard, which let go of the key as it opened.
        self.assert_received([note(1, 60, 127), note(1, 60, 0)])
        self.tap(F1)
        self.assert_received([note(10, 77, 127), note(10, 77, 0)])
        # A key held while the program button leaves the map ends the drum it started.
        self.assertTrue(s.hold_key(SCAN[F1]))
        s.click_control(panel_map.PROGRAM_UP)
        s.monitor.wait_for(self.start, 1 + len(chosen_from_menu(0)))
        s.desktop.key_up(keycode(SCAN[F1]))
        self.assert_received([note(10, 77, 127)] + chosen_from_menu(0) + [note(10, 77, 0)])

    def test_knob_drag_selects_the_programs_it_passes(self):
        s = self.session
        cx, cy = panel_map.KNOB_CENTRE
        # The dot sits below the centre at program 0; grab it in its middle.
        grab = (cx + 2, cy + panel_map.KNOB_RADIUS + 2)
        s.desktop.press(*s.at(grab))
        # Turning counter-clockwise on the screen raises the program. The pointer stays far
        # from the centre, so a pixel of rounding cannot tip a position over to its neighbour.
        targets = [10, 20, 32, 45]
        for target in targets:
            angle = (target + 0.5) * 2 * math.pi / 129
            s.desktop.move(*s.at((round(grab[0] + 90 * math.sin(angle)),
                                  round(grab[1] - panel_map.KNOB_RADIUS + 90 * math.cos(angle)))))
            time.sleep(0.2)
        s.desktop.release()
        self.assert_received(programs(*targets))
        # The knob keeps the choice: the next button press goes on from there.
        s.click_control(panel_map.PROGRAM_UP)
        self.assert_received(chosen_from_menu(46))


if __name__ == "__main__":
    unittest.main()
