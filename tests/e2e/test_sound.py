"""The built-in synth, the default route: the note played sounds, at its pitch, through the
JACK server that runs; through PulseAudio or PipeWire (a node of its own, or PipeWire's
PulseAudio service where only that is reachable), its sound comes back by itself after a silence
and after the server has crashed and started again; and when the server stays away, choosing
the Midi Mapper again moves the synth to the output there is now."""

import os
import re
import time
import unittest
from unittest import mock

import e2e_config
import pitch
from jack import record
from pulse import SoundServer, read_raw
from panel_map import PLAYING_SCAN_CODES as SCAN, keycode
from processes import read_text, wait_until

A4, C4 = 40, 31   # keys of notes 69 and 60


class SynthTest(unittest.TestCase):
    def setUp(self):
        self.session = e2e_config.session(monitor=False).__enter__()
        self.session.end_with(self)
        self.session.desktop.focus(self.session.window)

    def synth_port(self):
        ports = self.session.jack.ports() or []
        audio = [p for p in ports if p.startswith("Varnek Synth:")]
        return audio[0] if audio else None

    def record_key(self, key, name):
        s = self.session
        path = os.path.join(s.dir, name + ".wav")
        recorder = record(s.processes, s.jack, self.port, path, seconds=3)
        time.sleep(0.3)
        s.desktop.key_down(keycode(SCAN[key]))
        time.sleep(1.0)
        s.desktop.key_up(keycode(SCAN[key]))
        recorder.wait(15)
        s.processes.forget(recorder)
        return path

    def test_keys_sound_at_their_pitch(self):
        self.port = wait_until(self.synth_port, 10)
        self.assertIsNotNone(self.port, f"no audio port of the synth in {self.session.jack.ports()}")
        self.assertTrue(any(self.port in peers for peers in self.session.jack.connections().values()),
                        "the synth plays to no one")

        for key, expected in ((A4, 69), (C4, 60)):
            path = self.record_key(key, f"note-{expected}")
            samples, _ = pitch.read_wav(path)
            self.assertGreater(pitch.peak_level(samples), 0.02, f"note {expected} is silent")
            self.assertLess(pitch.peak_level(samples), 0.999, f"note {expected} clips")
            heard = pitch.note_pitch(path)
            self.assertAlmostEqual(heard, expected, delta=0.3, msg=f"heard {heard} for {expected}")


class PulseSynthTest(unittest.TestCase):
    """No JACK server here: the synth plays through the test's own PulseAudio or PipeWire."""

    def level_of_key(self, session, key, name):
        path = os.path.join(session.dir, name + ".raw")
        recorder = session.sound.record(path)
        try:
            # An idle null sink may take a while to hand its monitor the first sound.
            wait_until(lambda: os.path.getsize(path) > 0, 5)
            time.sleep(0.2)
            session.desktop.key_down(keycode(SCAN[key]))
            time.sleep(0.6)
            session.desktop.key_up(keycode(SCAN[key]))
            time.sleep(0.2)
        finally:
            SoundServer.stop_recording(recorder)
        return pitch.peak_level(read_raw(path))

    def check_sound_comes_back(self, kind):
        with mock.patch.dict(os.environ, VARNEK_LOG_AUDIO="1"), e2e_config.session(jack=False, sound=kind) as s:
            s.desktop.focus(s.window)
            self.assertTrue(wait_until(s.sound.streams, 10), "the synth opened no stream")
            node = lambda: s.sound.nodes("Varnek")
            if kind == "pipewire":
                self.check_native_node(s, node())
            before = self.level_of_key(s, A4, "before")
            self.assertGreater(before, 0.02, "silent before the restart")
            self.assertLess(before, 0.966, "over the ceiling")
            # Silent for longer than the stream plays silence: it rests, and the next key wakes it.
            # On PulseAudio a resting stream holds nothing on the server, which would otherwise
            # keep its sink running at the stream's short buffer; PipeWire's graph stops running
            # the synth's node.
            rests = {"pulseaudio": lambda: s.sound.streams() == [],
                     "pipewire": lambda: [n["info"]["state"] for n in node()] == ["idle"]}.get(kind)
            if rests:
                self.assertTrue(wait_until(rests, 8), "the silent synth still holds the server busy")
            else:
                time.sleep(4)
            after_silence = self.level_of_key(s, A4, "after-silence")
            self.assertGreater(after_silence, 0.5 * before, "quieter or silent after a silence")

            s.sound.restart()
            self.assertTrue(wait_until(s.sound.streams, 10),
                            "the synth did not come back to the restarted server\n" + s.diagnostics())
            if kind == "pipewire":
                self.assertTrue(wait_until(node, 10), "the synth's own node did not come back")
            after = self.level_of_key(s, A4, "after")
            self.assertGreater(after, 0.5 * before, "quieter or silent after the restart")

    def check_native_node(self, s, nodes):
        """The synth plays through a node of its own that asks for 128 frames, which the graph
        then runs, and that desktops show as a music player."""
        self.assertEqual(len(nodes), 1, "no node of the synth's own in the graph")
        props = nodes[0]["info"]["props"]
        self.assertEqual([props.get(k) for k in ("media.role", "application.icon-name", "node.latency")],
                         ["Music", "varnek", "128/48000"])
        granted = wait_until(lambda: re.search(r"quantum (\d+) frames at (\d+) Hz", read_text(s.varnek.log_path)), 5)
        self.assertEqual(granted and granted.groups(), ("128", "48000"), "the graph's cycle was not reported")

    def test_sound_comes_back_after_pulseaudio_restarts(self):
        self.check_sound_comes_back("pulseaudio")

    def test_sound_comes_back_after_pipewire_restarts(self):
        self.check_sound_comes_back("pipewire")

    def test_sound_comes_back_after_pipewire_restarts_through_its_pulseaudio_service(self):
        self.check_sound_comes_back("pipewire-pulse")

    def check_checked_midi_mapper_moves_to_jack(self, kind):
        with e2e_config.session(monitor=False, sound=kind) as s:
            s.desktop.focus(s.window)
            self.assertTrue(wait_until(s.sound.streams, 10), "the synth opened no stream")
            synth_on_jack = lambda: [p for p in s.jack.ports() or [] if p.startswith("Varnek Synth:")]
            self.assertFalse(synth_on_jack(), f"the synth played through JACK beside {kind}")
            s.sound.kill()
            s.menu("t", "Return")   # the Midi Mapper, checked
            s.wait_menus_closed()
            self.assertTrue(wait_until(synth_on_jack, 10),
                            "choosing the checked Midi Mapper did not open it anew\n" + s.diagnostics())

    def test_checked_midi_mapper_moves_to_jack_when_pulseaudio_stays_away(self):
        self.check_checked_midi_mapper_moves_to_jack("pulseaudio")

    def test_checked_midi_mapper_moves_to_jack_when_pipewire_stays_away(self):
        self.check_checked_midi_mapper_moves_to_jack("pipewire")


class AlsaSynthTest(unittest.TestCase):
    """With no sound server at all (in tools/alsa_vm's machine), the synth plays on the first
    card that can play, the loopback card 1, as card 0 has MIDI only; when the card goes and
    comes back, so does the sound."""

    def record_key(self, s, name):
        """Records the loopback card while a key sounds; arecord has let go of the card once this
        returns, so that the card can be taken away."""
        path = os.path.join(s.dir, name + ".wav")
        recorder = s.processes.start(f"arecord-{name}", ["arecord", "-D", "plughw:1,1", "-f", "S16_LE", "-r",
                                                         "48000", "-c", "2", "-d", "2", path], env=os.environ)
        wait_until(lambda: os.path.exists(path) and os.path.getsize(path) > 44, 5)
        s.desktop.key_down(keycode(SCAN[A4]))
        time.sleep(0.8)
        s.desktop.key_up(keycode(SCAN[A4]))
        recorder.wait(15)
        s.processes.forget(recorder)
        return pitch.peak_level(pitch.read_wav(path)[0])

    def test_plays_on_the_card_that_can_and_comes_back_with_it(self):
        with e2e_config.session(jack=False, monitor=False) as s:
            s.desktop.focus(s.window)
            self.assertGreater(self.record_key(s, "before"), 0.02, "silent on the loopback card\n" + s.diagnostics())
            unbind = "/sys/bus/platform/drivers/snd_aloop/"
            for action in ("unbind", "bind"):
                with open(unbind + action, "w") as driver:
                    driver.write("snd_aloop.0")
            levels = []
            self.assertTrue(wait_until(lambda: levels.append(self.record_key(s, f"after-{len(levels)}")) or
                                       levels[-1] > 0.02, 15, 0), f"no sound once the card came back: {levels}")
            others = [name for _, name, popup in s.desktop.top_levels() if not popup and name != "Varnek"]
            self.assertEqual(others, [], "a box came up")
            self.assertNotIn("no audio output", read_text(s.varnek.log_path))


if __name__ == "__main__":
    unittest.main()
