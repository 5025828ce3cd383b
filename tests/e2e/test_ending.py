"""Ending the program with POWER and with a close request: the process goes, nothing of it is
left behind, and no note is left sounding on the port it played to. Ended from outside, by a
signal, the loss of its display or another program destroying its window, it silences the
port the same way. Ended before it starts: its command line and a display it cannot open."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import e2e_config
import panel_map
from desktop import Desktop
from jack import MidiMonitor
from midi_log import all_notes_off, hex_list, program_change
from panel_map import PLAYING_SCAN_CODES as SCAN, keycode
from processes import ProcessGroup, children_of, process_state, wait_until


class EndingTest(unittest.TestCase):
    def start(self, route_to_monitor):
        s = e2e_config.session(monitor=route_to_monitor).__enter__()
        s.end_with(self)
        if route_to_monitor:
            s.route_to_monitor()
        s.desktop.focus(s.window)
        return s

    def own_ports(self, s):
        return [p for p in s.jack.ports() or [] if p.startswith("Varnek")]

    def assert_gone_without_trace(self, s, children):
        status = s.wait_for_exit(15)
        self.assertEqual(status, 0, "the program did not end by itself, or failed")
        self.assertIsNone(process_state(s.varnek.pid), "the process is still there")
        for child in children:
            self.assertIsNone(process_state(child), f"process {child} of the program outlived it")
        self.assertTrue(wait_until(lambda: not self.own_ports(s), 5),
                        f"JACK ports left behind: {self.own_ports(s)}")
        self.assertIsNone(s.desktop.window_of(s.varnek.pid, "Varnek"))

    def test_power_with_the_built_in_synth(self):
        s = self.start(route_to_monitor=False)
        self.assertTrue(wait_until(lambda: self.own_ports(s), 10), "the synth has no JACK ports")
        s.desktop.key_down(keycode(SCAN[31]))
        children = children_of(s.varnek.pid)
        s.click_control(panel_map.POWER)
        self.assert_gone_without_trace(s, children)
        s.desktop.key_up(keycode(SCAN[31]))

    def test_close_request_while_the_backing_plays_and_a_key_is_held(self):
        s = self.start(route_to_monitor=True)
        self.play_tango_and_hold_a_key(s)
        children = children_of(s.varnek.pid)
        s.desktop.request_close(s.window)
        self.assert_gone_without_trace(s, children)
        s.desktop.key_up(keycode(SCAN[31]))

        self.assert_port_silenced_and_closed(s)

    def assert_port_silenced_and_closed(self, s):
        # Before letting go of the port the program silences every channel it plays on.
        sent = hex_list(s.monitor.settle(0))
        self.assertIn("90 3c 7f", sent)
        closing = sent[-3:]
        self.assertEqual(sorted(closing), sorted(all_notes_off(c) for c in (1, 2, 10)), sent[-10:])
        self.assertEqual(s.jack.connections().get(s.monitor.port), [])

    def test_power_after_the_jack_server_came_back(self):
        # The server goes while the program plays to one of its ports, and a new one starts
        # under its name: choosing the checked port again opens it on the new server, the
        # synth plays through it too, and the program still ends cleanly.
        s = self.start(route_to_monitor=True)
        # JACK's example clients outlive their server; one left running would take the new
        # server's wake-ups.
        s.jack.restart(while_stopped=lambda: s.processes.stop(s.monitor.process))
        s.monitor = MidiMonitor(s.processes, s.jack)
        self.assertEqual(hex_list(s.route_to_monitor()), [program_change(1, 0), program_change(2, 0)])
        start = s.monitor.count()
        s.key(SCAN[31])
        self.assertIn("90 3c 7f", hex_list(s.monitor.wait_for(start, 2)))

        s.menu("t", "Return")   # the Midi Mapper, the first item
        s.wait_menus_closed()
        self.assertTrue(wait_until(lambda: self.own_ports(s), 10), "the synth did not come back")
        children = children_of(s.varnek.pid)
        s.click_control(panel_map.POWER)
        self.assert_gone_without_trace(s, children)

    def start_playing(self):
        """A session whose program plays the busiest backing with a key held down."""
        s = self.start(route_to_monitor=True)
        self.play_tango_and_hold_a_key(s)
        return s

    def play_tango_and_hold_a_key(self, s):
        """Tango, the busiest backing, playing, and a key held over it."""
        start = s.monitor.count()
        s.click_control(panel_map.STYLE_BUTTONS[6])
        self.assertTrue(wait_until(lambda: any(m.status == 0x99 for m in s.monitor.since(start)), 5),
                        "the backing does not play")
        self.assertTrue(s.hold_key(SCAN[31]), "the key does not sound")

    def test_ending_signals_silence_the_port_and_end_with_the_signal(self):
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=number.name):
                s = self.start_playing()
                s.varnek.send_signal(number)
                self.assertEqual(s.wait_for_exit(15), -number, "not ended by the signal itself")
                s.desktop.key_up(keycode(SCAN[31]))
                self.assert_port_silenced_and_closed(s)
                s.end()   # one server set at a time

    def test_window_destroyed_by_another_program_silences_the_port_and_ends(self):
        s = self.start_playing()
        children = children_of(s.varnek.pid)
        s.desktop.xdotool("windowclose", s.window.id)   # XDestroyWindow
        s.window = None
        self.assert_gone_without_trace(s, children)
        s.desktop.key_up(keycode(SCAN[31]))
        self.assert_port_silenced_and_closed(s)

    def test_a_hangup_the_program_was_started_to_ignore_leaves_it_playing(self):
        # As under nohup: the ignored signal is inherited and stays ignored.
        previous = signal.signal(signal.SIGHUP, signal.SIG_IGN)
        try:
            s = self.start(route_to_monitor=False)
        finally:
            signal.signal(signal.SIGHUP, previous)
        s.varnek.send_signal(signal.SIGHUP)
        time.sleep(0.5)
        self.assertIsNone(s.varnek.poll(), "a hangup it was started to ignore ended the program")

    def test_lost_display_silences_the_port(self):
        s = self.start_playing()
        s.window = None   # nothing left to ask to close
        s.processes.stop(s.desktop.server)
        self.assertEqual(s.wait_for_exit(15), 1, "the program did not end with the display")
        self.assert_port_silenced_and_closed(s)


class CommandLineTest(unittest.TestCase):
    def run_program(self, *arguments, display=None):
        """(exit status, standard output, lines of standard error) of a run that ends by itself."""
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["QT_QPA_PLATFORM"] = "xcb"
        if display is not None:
            env["DISPLAY"] = display
        result = subprocess.run([e2e_config.PROGRAM, *arguments], env=env, capture_output=True, text=True,
                                timeout=10)
        return result.returncode, result.stdout, result.stderr.splitlines()

    def test_answers_its_two_questions_and_refuses_the_rest_with_or_without_a_display(self):
        logs = tempfile.mkdtemp(prefix="varnek-e2e-")
        self.addCleanup(shutil.rmtree, logs, ignore_errors=True)
        processes = ProcessGroup(logs)
        self.addCleanup(processes.stop_all)
        desktop = Desktop(processes, 320, 200)
        self.addCleanup(desktop.close)
        for display in (None, desktop.name):
            with self.subTest(display=display):
                status, out, err = self.run_program("--version", display=display)
                self.assertEqual((status, out, err), (0, "varnek 1.0.0.1\n", []))
                for question in ("--help", "-h"):
                    status, out, err = self.run_program(question, display=display)
                    self.assertEqual((status, err), (0, []))
                    self.assertIn("varnek(1)", out)
                for wrong in (["--verbose"], ["--help", "-display", ":0"], ["-platform", "offscreen"]):
                    status, out, err = self.run_program(*wrong, display=display)
                    self.assertEqual((status, out, len(err)), (2, "", 1), err)

        # No display, or one that is not there: one line naming it, not Qt's abort.
        processes.stop(desktop.server)
        for display, named in ((None, "DISPLAY"), (desktop.name, desktop.name)):
            status, out, err = self.run_program(display=display)
            self.assertEqual((status, len(err)), (1, 1), err)
            self.assertIn(named, err[0])


if __name__ == "__main__":
    unittest.main()
