"""The window as the desktop sees it: title, size, place, menu bar, the bare rack and its
drag, and the first choice of an output port."""

import time
import unittest

import e2e_config
import midi_log
import panel_map
from jack import MidiMonitor
from processes import wait_until


def centred(screen_size, window_size):
    """The program's own rule: centre on the desktop, then keep the window within the work
    area (here the whole screen, as no panel or dock reserves any of it)."""
    placed = []
    for screen, window in zip(screen_size, window_size):
        start = screen // 2 - window // 2
        if start < 0:
            start = 0
        elif start + window > screen:
            start = screen - window
        placed.append(start)
    return tuple(placed)


class WindowTest(unittest.TestCase):
    def check_frame(self, screen):
        with e2e_config.session(screen=screen, monitor=False) as s:
            x, y, width, height = s.frame()
            menu_bar = height - panel_map.PANEL_HEIGHT
            self.assertEqual(width, panel_map.PANEL_WIDTH)
            self.assertGreater(menu_bar, 10, "no menu bar above the rack")
            self.assertLess(menu_bar, 60)
            self.assertEqual((x, y), centred(screen, (width, height)))

    def test_titled_window_with_rack_client_area_centred_on_screen(self):
        self.check_frame((800, 400))

    def test_window_taller_than_the_screen_stays_within_it(self):
        self.check_frame((640, 200))

    def test_menu_button_hides_the_bars_and_the_bare_rack_drags(self):
        with e2e_config.session(monitor=False) as s:
            before = s.frame()
            rack = s.client_origin()

            s.click_control(panel_map.MENU)
            self.assertTrue(wait_until(lambda: s.frame()[3] == panel_map.PANEL_HEIGHT, 5),
                            f"still {s.frame()} after MENU")
            self.assertEqual(s.frame(), (*rack, panel_map.PANEL_WIDTH, panel_map.PANEL_HEIGHT),
                             "the rack moved on the screen")

            # Dragged by its body, the rack follows the pointer.
            grab = s.at(panel_map.BARE_RACK)
            s.desktop.press(*grab)
            for step in (10, 20, 30):
                s.desktop.move(grab[0] + step, grab[1] + step // 2)
                time.sleep(0.1)
            s.desktop.release()
            moved = (rack[0] + 30, rack[1] + 15)
            self.assertTrue(wait_until(lambda: s.frame()[:2] == moved, 5),
                            f"rack at {s.frame()[:2]}, expected {moved}")

            s.click_control(panel_map.MENU)
            self.assertTrue(wait_until(lambda: s.frame()[3] == before[3], 5))
            self.assertEqual(s.client_origin(), moved, "showing the bars moved the rack")
            self.assertEqual(s.frame()[2:], before[2:])

    def test_keys_that_close_dialogs_leave_the_panel_open(self):
        with e2e_config.session(monitor=False) as s:
            s.desktop.key("Escape", "Return", "space", "KP_Enter")
            time.sleep(0.5)
            self.assertIsNone(s.varnek.poll(), "the panel closed")
            self.assertIsNotNone(s.desktop.window_of(s.varnek.pid, "Varnek"))


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
