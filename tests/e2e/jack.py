"""A JACK server of a test's own on the dummy driver, and the JACK clients that listen to the
program: a MIDI monitor (jack_midi_dump) and an audio recorder (jack_rec)."""

import itertools
import os
import signal
import subprocess

import midi_log
from processes import read_text, wait_until

SAMPLE_RATE = 48000
PERIOD = 256

_serial = itertools.count()


class JackServer:
    def __init__(self, processes, period=PERIOD):
        # Tests run side by side; each server has a name of its own.
        self.name = f"varnek-e2e-{os.getpid()}-{next(_serial)}"
        self.processes = processes
        self.period = period
        self.server = self._start_server()
        self.server.stop = self.stop
        if not wait_until(lambda: self.server.poll() is None and self.ports() is not None, 20, 0.2):
            raise RuntimeError("jackd did not start:\n" + read_text(self.server.log_path))

    def _start_server(self):
        # Synchronous: a cycle waits for every client to finish, so on a busy machine a late
        # monitor delays the cycle instead of missing the MIDI that came in it.
        return self.processes.start("jackd", [
            "jackd", "--name", self.name, "--no-realtime", "--sync", "--timeout", "2000",
            "-d", "dummy", "-r", str(SAMPLE_RATE), "-p", str(self.period),
        ], env=self.client_env(os.environ))

    def stop(self):
        """Ends the server so that it gives back its slot in the machine-wide JACK registry.
        The registry has room for eight servers, and the slot of a server that did not end
        cleanly (killed, or brought down by a SIGPIPE from the socket of a client that was
        killed) stays taken until a server of the same name starts and ends cleanly."""
        self.processes.forget(self.server)
        if self.processes.stop(self.server, patience=15) != 0:
            again = self._start_server()
            self.processes.forget(again)
            wait_until(lambda: self.ports() is not None, 10, 0.2)
            self.processes.stop(again, patience=15)

    def restart(self, while_stopped=lambda: None):
        """Stops the server and starts it again under the same name: to its clients, a new
        server where the old one was. Clients of the old server that are still running
        (while_stopped can end them) share its semaphores' names with the new one."""
        self.stop()
        while_stopped()
        self.server = self._start_server()
        self.server.stop = self.stop
        if not wait_until(lambda: self.server.poll() is None and self.ports() is not None, 20, 0.2):
            raise RuntimeError("jackd did not start again:\n" + read_text(self.server.log_path))

    def client_env(self, base):
        env = dict(base)
        env["JACK_DEFAULT_SERVER"] = self.name
        # A client must never start a server of its own when this one is gone.
        env["JACK_NO_START_SERVER"] = "1"
        return env

    def _lsp(self, *args):
        try:
            result = subprocess.run(["jack_lsp", *args], env=self.client_env(os.environ),
                                    capture_output=True, text=True, timeout=10)
        except subprocess.TimeoutExpired:
            return None
        return result.stdout if result.returncode == 0 else None

    def ports(self):
        """Every port's full name, or None when the server does not answer."""
        text = self._lsp()
        return None if text is None else [line for line in text.splitlines() if line.strip()]

    def connections(self):
        """{port: [connected ports]} for every port."""
        text = self._lsp("-c") or ""
        found, current = {}, None
        for line in text.splitlines():
            if line.startswith((" ", "\t")):
                found[current].append(line.strip())
            elif line.strip():
                current = line.strip()
                found[current] = []
        return found

    def wait_for_port(self, port, timeout=10):
        return wait_until(lambda: port in (self.ports() or []), timeout, 0.1)


class MidiMonitor(midi_log.Heard):
    """Records every MIDI message that reaches its one input port."""

    CLIENT = "e2e-monitor"
    # What the monitor is sent until it shows that it reads its port: All Notes Off on channel
    # 16, which the program never sends. It is left out of what the monitor heard.
    PROBE = (0xBF, 0x7B, 0x00)

    def __init__(self, processes, jack, client=CLIENT):
        self.jack = jack
        self.client = client
        self.port = client + ":input"
        # Interrupted, JACK's example clients close their connection to the server, which
        # then ends at once; terminated, they leave it waiting for them.
        name = "monitor" if client == self.CLIENT else client
        self.process = processes.start(name, ["jack_midi_dump", "-a", client],
                                       env=jack.client_env(os.environ), stop_signal=signal.SIGINT)
        if not self._hears_probe():
            raise RuntimeError("jack_midi_dump did not start:\n" + read_text(self.process.log_path))

    def _hears_probe(self):
        """jack_midi_dump lists its port before it reads it: it is ready once a probe sent to the
        port comes out of it. Probes sent before that are lost, so one goes every 100 ms."""
        if not self.jack.wait_for_port(self.port):
            return False
        from controller import Controller   # JACK's Python binding, only where it is needed
        probe = Controller(self.jack.name, name=self.client + "-probe")
        try:
            probe.plug_into(self.port)

            def heard():
                probe.send(self.PROBE)
                return wait_until(lambda: self.PROBE in self._heard(), 0.1)
            return wait_until(heard, 15, 0) is not None
        finally:
            probe.close()

    def _heard(self):
        return [m.data for m in midi_log.parse(read_text(self.process.log_path))]

    def messages(self):
        return [m for m in midi_log.parse(read_text(self.process.log_path)) if m.data != self.PROBE]


def record(processes, jack, port, path, seconds):
    """Starts jack_rec on `port` for `seconds`; returns the process once it listens."""
    recorder = processes.start("recorder", [
        "jack_rec", "-f", path, "-d", str(seconds), "-b", "16", port,
    ], env=jack.client_env(os.environ), stop_signal=signal.SIGINT)
    wait_until(lambda: any(port in peers for peers in jack.connections().values()), 10, 0.1)
    return recorder
