"""The ALSA side of the end-to-end tests, in the machine tools/alsa_vm boots: its virtual raw-MIDI
ports stand for a USB controller and for the ports Varnek plays into, read and written as raw
bytes, and the sequencer's subscriptions are made and read with aconnect. The monitor has the
interface of jack.MidiMonitor, so the same tests read either."""

import os
import re
import subprocess
import threading
import time

import midi_log

# The virtual ports' sequencer clients, and the raw devices that write and read them.
RAW_DEVICE = "/dev/snd/midiC0D{}"
FIRST_VIRTUAL_CLIENT = 16


def virtual_port(number):
    return f"{FIRST_VIRTUAL_CLIENT + number}:0"


def clients():
    """{client name: (client number, {port name: port number})} from aconnect -l."""
    text = subprocess.run(["aconnect", "-l"], capture_output=True, text=True, timeout=10).stdout
    found, current = {}, None
    for line in text.splitlines():
        client = re.match(r"client (\d+): '(.*)'", line)
        port = re.match(r"\s+(\d+) '(.*?)\s*'$", line)
        if client:
            current = {}
            found[client.group(2)] = (int(client.group(1)), current)
        elif port and current is not None:
            current[port.group(2)] = int(port.group(1))
    return found


def addresses(client, port):
    """Every "client:port" of the clients named `client` (another Varnek's among them)."""
    text = subprocess.run(["aconnect", "-l"], capture_output=True, text=True, timeout=10).stdout
    found, current = [], None
    for line in text.splitlines():
        named = re.match(r"client (\d+): '(.*)'", line)
        if named:
            current = named.group(1) if named.group(2) == client else None
        listed = re.match(r"\s+(\d+) '(.*?)\s*'$", line)
        if listed and current is not None and listed.group(2) == port:
            found.append(f"{current}:{listed.group(1)}")
    return found


def address(client, port):
    """"client:port" by name, e.g. address("Varnek", "MIDI in"), or None while it is not there."""
    found = clients().get(client)
    return f"{found[0]}:{found[1][port]}" if found and port in found[1] else None


def connections(source):
    """The addresses that `source` is connected to."""
    text = subprocess.run(["aconnect", "-l"], capture_output=True, text=True, timeout=10).stdout
    client, port = source.split(":")
    inside, found = False, []
    for line in text.splitlines():
        if line.startswith("client "):
            inside = line.startswith(f"client {client}:")
        elif inside and re.match(rf"\s+{port} '", line):
            inside = "port"
        elif inside == "port" and "Connecting To:" in line:
            found = [peer.split("[")[0].strip() for peer in line.split(":", 1)[1].split(",")]
        elif inside == "port" and re.match(r"\s+\d+ '", line):
            inside = False
    return found


def connect(source, destination):
    subprocess.run(["aconnect", source, destination], check=True, timeout=10)


def disconnect(source, destination):
    subprocess.run(["aconnect", "-d", source, destination], check=True, timeout=10)


class RawMidiMonitor(midi_log.Heard):
    """Records every message a virtual port's sequencer client is sent, from its raw device. The
    kernel writes a repeated status only once (running status); the messages are given whole.
    A message's frame is its time of arrival in microseconds."""

    def __init__(self, port):
        self.device = RAW_DEVICE.format(port)
        # The device hears nothing until it is first read: read at once, then waited on.
        self.fd = os.open(self.device, os.O_RDONLY | os.O_NONBLOCK)
        try:
            os.read(self.fd, 1)
        except BlockingIOError:
            pass
        os.set_blocking(self.fd, True)
        self._messages = []
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        status, data = 0, []
        while True:
            try:
                chunk = os.read(self.fd, 256)
            except OSError:
                return
            if not chunk:
                return
            now = int(time.monotonic() * 1e6)
            for byte in chunk:
                if byte >= 0xF0:
                    continue   # system messages: none of the tests' concern
                if byte >= 0x80:
                    status, data = byte, []
                    continue
                if not status:
                    continue
                data.append(byte)
                if len(data) == (1 if status & 0xE0 == 0xC0 else 2):
                    with self._lock:
                        self._messages.append(midi_log.Message(now, (status, *data)))
                    data = []

    def close(self):
        os.close(self.fd)

    def messages(self):
        with self._lock:
            return list(self._messages)


class RawController:
    """A controller on a virtual port: what is written to its raw device comes out of its
    sequencer client, as a USB keyboard's notes do."""

    def __init__(self, port):
        self.address = virtual_port(port)
        self.fd = os.open(RAW_DEVICE.format(port), os.O_WRONLY)

    def send(self, *messages):
        # Message by message, as a keyboard's port delivers them: the virtual port loses a
        # whole write of several messages that holds a clock byte.
        for message in messages:
            os.write(self.fd, bytes(message))

    def plug_into(self, destination):
        connect(self.address, destination)

    def unplug(self, destination):
        disconnect(self.address, destination)

    def close(self):
        os.close(self.fd)
