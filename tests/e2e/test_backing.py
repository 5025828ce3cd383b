"""The backing as the MIDI port hears it: the steps of a style at its period, the chord key
moving its chord tones, and None stopping it."""

import os
import threading
import time
import unittest

import e2e_config
import panel_map
import panel_state
from midi_log import all_notes_off, hex_list
from panel_map import keycode

REST = None
# Chord tones and drum notes per step; None is a rest.
ROCK_CHORD = [0, REST, REST, 0, 0, REST, REST, -7]
ROCK_DRUM_1 = [41, REST, 40, 41, 41, REST, 40, 0]
ROCK_DRUM_2 = [53] * 8
WALTZ_CHORD_1 = [0, 7, 7]
WALTZ_CHORD_2 = [REST, 5, 5]
WALTZ_DRUM_1 = [41, 53, 53]
WALTZ_DRUM_2 = [57, REST, REST]
ROCK = ([ROCK_CHORD], [ROCK_DRUM_1, ROCK_DRUM_2])
WALTZ = ([WALTZ_CHORD_1, WALTZ_CHORD_2], [WALTZ_DRUM_1, WALTZ_DRUM_2])
# Tango's 64 steps are mostly silent; these are the ones that sound.
TANGO_SOUNDING = {0, 8, 16, 24, 28, 29, 30, 31, 32, 40, 48, 56, 60, 61, 62, 63}

ROCK_PERIOD, WALTZ_PERIOD, TANGO_PERIOD = (panel_map.STYLE_PERIODS[i] for i in (2, 1, 6))
STYLE_CHANGE = [all_notes_off(2), all_notes_off(10)]


def tick(style, step, key_offset=0):
    """What one tick sends: chord off, chord tones, drum off, drums."""
    chords, drums = style
    sent = [all_notes_off(2)]
    sent += [f"91 {48 + key_offset + row[step]:02x} 3f" for row in chords if row[step] is not REST]
    sent.append(all_notes_off(10))
    sent += [f"99 {row[step]:02x} 5f" for row in drums if row[step] is not REST]
    return sent


def split_ticks(messages, times=None):
    """The messages cut into ticks, each starting with the chord channel's All Notes Off:
    [(seconds, [message, ...]), ...], the seconds those of `times`, one for each message."""
    ticks = []
    for index, message in enumerate(messages):
        if str(message) == all_notes_off(2) or not ticks:
            ticks.append((times[index] if times else None, []))
        ticks[-1][1].append(str(message))
    return ticks


class ArrivalClock:
    """When each message reached the monitor, on the wall clock. The JACK dummy server's frame
    counter falls behind whenever a busy machine makes it miss cycles, so the backing's periods
    are timed here instead, from the monitor's log watched every two milliseconds."""

    POLL = 0.002

    def __init__(self, monitor):
        self.monitor = monitor
        self.times = []   # time.monotonic() of each message the monitor has heard
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._watch, daemon=True)
        self._thread.start()

    def _watch(self):
        size = -1
        while not self._stop.wait(self.POLL):
            now = os.path.getsize(self.monitor.process.log_path)
            if now != size:
                size = now
                count = self.monitor.count()
                self.times.extend([time.monotonic()] * (count - len(self.times)))

    def close(self):
        self._stop.set()
        self._thread.join()


def key_offset_of(style, step, sent):
    """The chord key that a tick's first chord tone was played in, or None if it has none."""
    for text in sent:
        if text.startswith("91 "):
            tone = next(row[step] for row in style[0] if row[step] is not REST)
            return int(text.split()[1], 16) - 48 - tone
    return None


class BackingTest(unittest.TestCase):
    def setUp(self):
        self.session = e2e_config.session().__enter__()
        self.session.end_with(self)
        self.clock = ArrivalClock(self.session.monitor)
        self.addCleanup(self.clock.close)
        self.session.route_to_monitor()
        self.session.monitor.settle(0, quiet=0.3)
        self.session.desktop.focus(self.session.window)

    def choose(self, action):
        """Runs the action that chooses a style; checks that it silences both channels at
        once and returns the count of messages before the first tick."""
        monitor = self.session.monitor
        start = monitor.count()
        action()
        self.assertEqual(hex_list(monitor.wait_for(start, 2))[:2], STYLE_CHANGE)
        return start + 2

    def ticks(self, start, count, period):
        """The first `count` ticks after message `start`, waiting as long as they need."""
        monitor = self.session.monitor
        found = []

        def enough():
            times = self.clock.times[start:]
            found[:] = split_ticks(monitor.since(start)[:len(times)], times)
            # The last tick may still be under way: wait for the one after it.
            return len(found) > count

        monitor_wait = period * (count + 2) * 1.5 + 2
        deadline = time.monotonic() + monitor_wait
        while not enough() and time.monotonic() < deadline:
            time.sleep(period / 2)
        self.assertGreater(len(found), count, f"only {len(found)} ticks in {monitor_wait:.1f} s")
        return found[:count]

    def assert_period(self, ticks, period):
        times = [t for t, _ in ticks]
        gaps = [b - a for a, b in zip(times, times[1:])]
        mean = sum(gaps) / len(gaps)
        # Ticks are never early, and a busy machine may make them late.
        self.assertGreater(mean, 0.9 * period, gaps)
        self.assertLess(mean, 1.25 * period, gaps)
        self.assertLess(max(gaps), 3 * period, gaps)

    def assert_steps(self, style, ticks, first_step, key_offset=0):
        cycle = len(style[1][0])
        for i, (_, sent) in enumerate(ticks):
            step = (first_step + i) % cycle
            self.assertEqual(sent, tick(style, step, key_offset), f"tick {i}, step {step}")

    def test_rock_from_its_button_in_changing_keys_then_none(self):
        s = self.session
        start = self.choose(lambda: s.click_control(panel_map.STYLE_BUTTONS[2]))
        ticks = self.ticks(start, 9, ROCK_PERIOD)
        self.assert_steps(ROCK, ticks, 0)
        self.assert_period(ticks, ROCK_PERIOD)

        # F12 twice: two semitones up, from the next tick on.
        s.key(panel_map.SCAN_F12)
        s.key(panel_map.SCAN_F12)
        mark = s.monitor.count()
        ticks = self.ticks(mark, 10, ROCK_PERIOD)[1:]
        first = self.step_of_first(ticks, ROCK)
        self.assert_steps(ROCK, ticks, first, key_offset=2)

        # The lamp of F: seven semitones below C.
        s.click_control(panel_map.KEY_LAMPS[0])
        mark = s.monitor.count()
        ticks = self.ticks(mark, 10, ROCK_PERIOD)[1:]
        self.assert_steps(ROCK, ticks, self.step_of_first(ticks, ROCK), key_offset=-7)

        styles, keys = panel_state.lamps(s)
        self.assertEqual(panel_state.lit(styles), [2], styles)
        self.assertEqual(panel_state.lit(keys), [0], keys)

        start = self.choose(lambda: s.click_control(panel_map.STYLE_BUTTONS[0]))
        time.sleep(5 * ROCK_PERIOD)
        self.assertEqual(hex_list(s.monitor.since(start)), [], "None still plays")
        styles, keys = panel_state.lamps(s)
        self.assertEqual(panel_state.lit(styles), [0], styles)

    def step_of_first(self, ticks, style):
        """The step the first of these ticks played, found from the drums, which do not
        depend on the key (Rock's pattern of drums repeats only once per cycle)."""
        chords, drums = style
        cycle = len(drums[0])
        for step in range(cycle):
            if all(self.drums_of(sent) == self.drums_of(tick(style, (step + i) % cycle))
                   for i, (_, sent) in enumerate(ticks)):
                return step
        self.fail(f"no step of the style fits {ticks}")

    @staticmethod
    def drums_of(sent):
        return [m for m in sent if m.startswith("99 ")]

    def test_held_f12_steps_the_chord_key_once_per_repeat(self):
        s = self.session
        self.assertTrue(s.desktop.auto_repeat(delay_ms=250, rate_hz=5))
        start = self.choose(lambda: s.click_control(panel_map.STYLE_BUTTONS[2]))
        self.ticks(start, 1, ROCK_PERIOD)
        s.desktop.key_down(keycode(panel_map.SCAN_F12))
        time.sleep(1.0)   # the press and about four repeats
        s.desktop.key_up(keycode(panel_map.SCAN_F12))
        mark = s.monitor.count()
        ticks = self.ticks(mark, 9, ROCK_PERIOD)[1:]
        first = self.step_of_first(ticks, ROCK)
        offsets = {key_offset_of(ROCK, (first + i) % 8, sent) for i, (_, sent) in enumerate(ticks)}
        offsets.discard(None)
        self.assertEqual(len(offsets), 1, offsets)
        offset = offsets.pop()
        self.assertIn(offset, range(-7, 5))
        self.assertIn(offset % 12, range(2, 11), "the held key did not repeat")
        styles, keys = panel_state.lamps(s)
        self.assertEqual(panel_state.lit(keys), [offset + panel_map.KEY_LAMP_C], keys)

    def test_waltz_then_tango_from_the_menu(self):
        s = self.session
        waltz = self.choose(lambda: s.menu("b", "w"))
        ticks = self.ticks(waltz, 4, WALTZ_PERIOD)
        self.assert_steps(WALTZ, ticks, 0)
        self.assert_period(ticks, WALTZ_PERIOD)

        # The step goes on from where Waltz left it.
        start = self.choose(lambda: s.menu("b", "t"))
        waltz_ticks = split_ticks(s.monitor.messages()[waltz:start - len(STYLE_CHANGE)])
        ticks = self.ticks(start, 70, TANGO_PERIOD)
        first = len(waltz_ticks) % 3
        for i, (_, sent) in enumerate(ticks):
            step = (first + i) % 64
            sounding = any(m.startswith(("91", "99")) for m in sent)
            self.assertEqual(sounding, step in TANGO_SOUNDING, f"tick {i}, step {step}: {sent}")
        # Its first step is one of the fullest: two chord tones and three drums.
        self.assertEqual(ticks[64 - first][1], [all_notes_off(2), "91 30 3f", "91 24 3f",
                                                all_notes_off(10), "99 28 5f", "99 29 5f",
                                                "99 39 5f"])
        self.assert_period(ticks, TANGO_PERIOD)
        styles, _ = panel_state.lamps(s)
        self.assertEqual(panel_state.lit(styles), [6], styles)


if __name__ == "__main__":
    unittest.main()
