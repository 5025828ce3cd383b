"""A MIDI controller on the test's JACK server: a JACK client of the test's own process with
one MIDI output, which sends what the test gives it at the start of the next cycle."""

import collections
import importlib.util
import os
import sys
import threading

import midi_log


def _jack_binding():
    """JACK's Python binding (python3-jack-client), which shares its module name with the
    tests' own jack.py and is loaded by its path."""
    here = os.path.dirname(os.path.abspath(__file__))
    for folder in sys.path:
        path = os.path.join(folder, "jack.py")
        if os.path.abspath(folder or ".") != here and os.path.exists(path):
            spec = importlib.util.spec_from_file_location("jack_binding", path)
            module = importlib.util.module_from_spec(spec)
            spec.loader.exec_module(module)
            return module
    raise ImportError("JACK's Python binding is not installed (python3-jack-client)")


jack = _jack_binding()

VARNEK_IN = "Varnek:MIDI in"
VARNEK_OUT = "Varnek:MIDI out"


class Controller:
    def __init__(self, server_name, name="e2e-controller"):
        self.client = jack.Client(name, no_start_server=True, servername=server_name)
        self.port = self.client.midi_outports.register("out")
        self._pending = collections.deque()
        self._lock = threading.Lock()
        self.client.set_process_callback(self._process)
        self.client.activate()

    def _process(self, frames):
        self.port.clear_buffer()
        with self._lock:
            while self._pending:
                try:
                    self.port.write_midi_event(0, self._pending[0])
                except jack.JackError:
                    break   # the port's buffer is full: the rest goes in the next cycle
                self._pending.popleft()

    def send(self, *messages):
        """Sends each message, a tuple of bytes, in this order and in one cycle, or in as few
        cycles as the port's buffer allows."""
        with self._lock:
            self._pending.extend(bytes(m) for m in messages)

    def sent_all(self):
        with self._lock:
            return not self._pending

    def plug_into(self, port=VARNEK_IN):
        self.client.connect(self.port, port)

    def unplug(self, port=VARNEK_IN):
        self.client.disconnect(self.port, port)

    def close(self):
        self.client.deactivate()
        self.client.close()


class Thru:
    """A plain MIDI-thru client, as a DAW track that echoes its input is: whatever comes in
    at its input leaves its output in the same cycle."""

    def __init__(self, server_name, name="e2e-thru"):
        self.client = jack.Client(name, no_start_server=True, servername=server_name)
        self.input = self.client.midi_inports.register("in")
        self.output = self.client.midi_outports.register("out")
        self.client.set_process_callback(self._process)
        self.client.activate()

    def _process(self, frames):
        self.output.clear_buffer()
        for offset, data in self.input.incoming_midi_events():
            self.output.write_midi_event(offset, data)

    def loop(self, source=VARNEK_OUT, destination=VARNEK_IN):
        """Puts the client between `source` and `destination`."""
        self.client.connect(source, self.input)
        self.client.connect(self.output, destination)

    def close(self):
        self.client.deactivate()
        self.client.close()


class Recorder(midi_log.Heard):
    """Records every message that reaches its one MIDI input, in its own process callback, so
    that a burst of thousands in a cycle loses none (jack_midi_dump keeps a few hundred)."""

    def __init__(self, server_name, name="e2e-recorder"):
        self.client = jack.Client(name, no_start_server=True, servername=server_name)
        self.input = self.client.midi_inports.register("input")
        self.port = self.input.name
        self._received = []
        self._lock = threading.Lock()
        self.client.set_process_callback(self._process)
        self.client.activate()

    def _process(self, frames):
        start = self.client.last_frame_time
        heard = [midi_log.Message(start + offset, tuple(bytes(data))) for offset, data in self.input.incoming_midi_events()]
        if heard:
            with self._lock:
                self._received.extend(heard)

    def messages(self):
        with self._lock:
            return list(self._received)

    def close(self):
        self.client.deactivate()
        self.client.close()
