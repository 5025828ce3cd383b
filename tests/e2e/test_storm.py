"""Thousands of random input events, then the panel must still be whole: once every key and
button is let go, and before anything is clicked, exactly the keys drawn down sound, each with
one note-on whose note-off has not come, on its channel and note; then one style button and
one chord lamp lit, the menu marks in step with them and with the instrument, the backing
playing what the lamps say, and after a plain mouse release no key left sounding.

VARNEK_STORM_EVENTS sets the number of events (3000), VARNEK_STORM_SEED the random seed (a
new one each run, printed so that a failure can be replayed)."""

import os
import random
import sys
import time
import unittest

import e2e_config
import panel_map
import panel_state
from jack import SAMPLE_RATE
from midi_log import hex_list, key_faults, key_of
from processes import read_text, wait_until
from storm import Storm

PERIODS = panel_map.STYLE_PERIODS
# The chord tones each style plays, in semitones above the chord key's C.
CHORD_TONES = [set(), {0, 5, 7}, {0, -7}, {0, -5, -3, -1}, {0, 4, 7, -5}, {4, 7, 0, -5},
               {0, -12, -5}, {0, 4, -5, -3}]
MENU_GROUPS = 17   # sixteen groups of eight programs, then the percussion map


class StormTest(unittest.TestCase):
    def test_storm_leaves_a_consistent_panel(self):
        events = int(os.environ.get("VARNEK_STORM_EVENTS", "3000"))
        seed = int(os.environ.get("VARNEK_STORM_SEED", random.randrange(1 << 30)))
        print(f"storm of {events} events, seed {seed}", flush=True)
        with e2e_config.session(screen=(1024, 768)) as s:
            s.route_to_monitor()
            s.desktop.auto_repeat()
            s.desktop.focus(s.window)
            storm = Storm(s, seed)
            started = time.monotonic()
            storm.run(events, report=lambda n: print(f"  {n} events", flush=True))
            print(f"storm done in {time.monotonic() - started:.0f} s: {storm.actions}", flush=True)
            self.let_go(s, storm)
            self.check_sounding_keys_are_drawn_down(s)
            self.settle(s)
            self.check_lamps_and_menus(s)
            self.check_no_key_sounds(s)
            self.check_program_ends(s)

    def let_go(self, s, storm):
        """Lets go of every key and button, closes dialogs and menus, and puts the rack whole
        on the screen, without a click on it."""
        held = s.desktop.release_all_keys()
        if held:
            print(f"keys still held after the storm: {held}", flush=True)
        for button in (1, 2, 3):
            s.desktop.release(button)
        storm.close_dialogs()
        s.desktop.key("Escape")
        self.assertTrue(s.wait_menus_closed(), "a menu stays open")
        self.assertIsNone(s.varnek.poll(), "the program ended")
        # Drags of the bare rack may have left it partly off the screen; the test moves it back
        # as one would (a window manager puts its frame around the place asked for).
        x, y, width, height = s.frame()
        centre = ((s.desktop.width - width) // 2, (s.desktop.height - height) // 2)
        s.desktop.xdotool("windowmove", s.window.id, *centre)
        self.assertTrue(wait_until(lambda: self.rack_on_screen(s), 5), "the window did not move")
        time.sleep(0.5)

    @staticmethod
    def rack_on_screen(s):
        x, y = s.client_origin()
        return (0 <= x <= s.desktop.width - panel_map.PANEL_WIDTH
                and 0 <= y <= s.desktop.height - panel_map.PANEL_HEIGHT)

    def check_sounding_keys_are_drawn_down(self, s):
        """A key glided over with Shift held sounds until a plain release, and is drawn down
        meanwhile; any other note still sounding is stuck."""
        messages = s.monitor.settle(0, quiet=1.0)
        faults, sounding = key_faults(messages)
        self.assertEqual(faults, [], "\n".join(faults[:20] + [self.late_cycles(s)]))
        drawn = panel_state.keys_down(s)
        keys = sorted(sounding.values())
        self.assertEqual(keys, drawn, f"sounding {sorted(sounding)}; drawn down {drawn}")
        print(f"{len(messages)} messages received; keys down and sounding: {drawn}", flush=True)

    @staticmethod
    def late_cycles(s):
        # A cycle the server reports late may have lost MIDI on the way to the monitor.
        return f"{read_text(s.jack.server.log_path).count('XRun')} late JACK cycles"

    def settle(self, s):
        """Ends any drag and capture the storm left and brings the bars back."""
        # A press on the bare rack and a release with no key held end any drag and capture
        # the storm left; apart, so that no click makes a double-click with the one before.
        time.sleep(0.6)
        s.click(panel_map.BARE_RACK)
        time.sleep(0.6)
        if s.frame()[3] == panel_map.PANEL_HEIGHT:
            s.click_control(panel_map.MENU)
            self.assertTrue(wait_until(lambda: s.frame()[3] > panel_map.PANEL_HEIGHT, 5))
        time.sleep(0.5)

    def check_lamps_and_menus(self, s):
        styles, keys = panel_state.lamps(s)
        self.assertNotIn(None, styles, f"a style button shows neither image: {styles}")
        self.assertNotIn(None, keys, f"a chord lamp shows neither image: {keys}")
        self.assertEqual(len(panel_state.lit(styles)), 1, styles)
        self.assertEqual(len(panel_state.lit(keys)), 1, keys)
        style, = panel_state.lit(styles)
        key_offset = panel_state.lit(keys)[0] - panel_map.KEY_LAMP_C
        print(f"style {panel_map.STYLE_NAMES[style]}, chord key {key_offset:+d}", flush=True)

        self.assertEqual(panel_state.open_menu_marks(s, "b", len(panel_map.STYLE_NAMES)), [style])
        self.check_backing_plays(s, style, key_offset)

        program = self.current_program(s)
        group = 16 if program is None else program // 8
        self.assertEqual(panel_state.open_menu_marks(s, "i", MENU_GROUPS), [group])
        if program is not None:
            self.assertEqual(panel_state.open_menu_marks(s, "i", 8, path=(group,)), [program % 8])

    def check_backing_plays(self, s, style, key_offset):
        start = s.monitor.count()
        # Long enough for several ticks of the slowest style, whatever the phase.
        time.sleep(3.0 if style == 0 else max(3.0, 6 * PERIODS[style]))
        messages = s.monitor.since(start)
        backing = [m for m in messages if m.status in (0x91, 0xB1, 0xB9) or
                   (m.status == 0x99 and m.data[2] == 0x5F)]
        if style == 0:
            self.assertEqual(hex_list(backing), [], "None is lit but the backing plays")
            return
        ticks = [m.seconds(SAMPLE_RATE) for m in backing if str(m) == "b1 7b 00"]
        self.assertGreater(len(ticks), 3, hex_list(backing))
        mean = (ticks[-1] - ticks[0]) / (len(ticks) - 1)
        self.assertGreater(mean, 0.9 * PERIODS[style], f"ticks every {mean:.3f} s")
        self.assertLess(mean, 1.25 * PERIODS[style], f"ticks every {mean:.3f} s")
        tones = {m.data[1] - 48 - key_offset for m in backing if m.status == 0x91}
        self.assertLessEqual(tones, CHORD_TONES[style], f"chord key {key_offset:+d}")

    def current_program(self, s):
        """The program now chosen, from what the port heard: None for the percussion map. The
        mouse strikes C4, which then says on which channel the keys play."""
        start = s.monitor.count()
        s.click(panel_map.key_point(31))
        struck = wait_until(lambda: [m for m in s.monitor.since(start)
                                     if key_of(m) == 31 and m.data[2] != 0], 5)
        self.assertTrue(struck, "the key C4 sent nothing")
        if struck[0].status == 0x99:
            return None
        changes = [m for m in s.monitor.messages() if m.status == 0xC0]
        return changes[-1].data[1] if changes else 0

    def check_no_key_sounds(self, s):
        s.click(panel_map.BARE_RACK)
        messages = s.monitor.settle(0, quiet=1.0)
        faults, sounding = key_faults(messages)
        faults += [f"channel {c} note {n} still sounds" for c, n in sorted(sounding)]
        self.assertEqual(faults, [], "\n".join(faults[:20] + [self.late_cycles(s)]))
        print(f"{len(messages)} messages received, every key released", flush=True)

    def check_program_ends(self, s):
        s.desktop.request_close(s.window)
        status = s.wait_for_exit(60)
        self.assertEqual(status, 0, read_text(s.varnek.log_path, tail=60))


if __name__ == "__main__":
    sys.exit(unittest.main())
