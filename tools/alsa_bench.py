#!/usr/bin/python3
"""How fast Varnek is on ALSA alone, with no sound server, beside Debian's vmpk in the same run,
in the machine tools/alsa_vm boots (the script boots it and runs itself there when this machine
has no ALSA):

1. controller -> Varnek's own output: a note written to the raw device of the virtual port 0-0
   (a USB keyboard's port, subscribed to "Varnek:MIDI in") until it can be read from the raw
   device of the virtual port 0-1 (subscribed to "Varnek:MIDI out"); one note at a time, each
   once the one before has come out, the note-on timed and its note-off sent after it;
2. the same through vmpk's MIDI thru (apt-get install vmpk): its ALSA input and output,
   with MIDI thru on;
3. computer key -> sound on the loopback card 1 (recorded from hw:1,1): Varnek's built-in synth
   finds the card by itself; vmpk's FluidSynth backend plays on ALSA's "default", made card 1
   for it by an .asoundrc of its own (card 0 has no sound output), at the settings its dialog
   has by default. XTEST key presses stamped once the request has left for the X server; the
   sound's time from the recording's clock (see audio_bench.py).

    tools/alsa_bench.py build/varnek [--notes 1000] [--keys 30] [--runs 1]

The machine emulates its processor (no KVM on these hosts), so every figure includes the
emulation's slowness, the same for both programs. Runs on Debian's /usr/bin/python3 with
python3-xlib."""

import argparse
import array
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import alsa  # noqa: E402
from audio_bench import VMPK_PROFILE, Keys, percentile, varnek_layout, vmpk_layout  # noqa: E402
from dated_recording import CHANNELS, SOUND  # noqa: E402
from desktop import Desktop  # noqa: E402
from processes import ProcessGroup, wait_until  # noqa: E402
from varnek_session import _FOREIGN_SETTINGS  # noqa: E402

VMPK = "/usr/bin/vmpk"
CONTROLLER, LISTENER = 0, 1      # the virtual ports: 0-0 plays in, 0-1 hears what comes out
FIRST_NOTE = 29
RATE = 48000


class CardRecording:
    """The loopback card's other side recorded as float stereo by arecord in periods of 1 ms, each
    piece noted as it arrives. A sample cannot arrive before it was played, so the earliest
    arrival relative to its place in the recording marks the card's clock; the card's clock and
    the monotonic one drift apart a little, so a line is fitted through the earliest arrival of
    every half second."""

    def __init__(self):
        self.process = subprocess.Popen([
            "arecord", "-q", "-D", "plughw:1,1", "-f", "FLOAT_LE", "-r", str(RATE), "-c", str(CHANNELS), "-t", "raw",
            "--period-time=1000", "--buffer-time=8000"], stdout=subprocess.PIPE)
        self.data = bytearray()
        self.arrivals = []
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        wait_until(lambda: self.data, 5)

    def _read(self):
        fd = self.process.stdout.fileno()
        while True:
            chunk = os.read(fd, 65536)
            if not chunk:
                return
            arrived = time.monotonic()
            self.data += chunk
            self.arrivals.append((arrived, len(self.data) // (4 * CHANNELS)))

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        self.process.wait(10)
        self.thread.join(5)
        if not self.arrivals:
            raise RuntimeError("nothing was recorded from the loopback card")
        self.samples = array.array("f")
        self.samples.frombytes(bytes(self.data[:len(self.data) // (4 * CHANNELS) * 4 * CHANNELS]))
        earliest = {}
        start = self.arrivals[0][0]
        for arrived, frames in self.arrivals:
            played = frames / RATE
            window = int((arrived - start) * 2)
            if window not in earliest or arrived - played < earliest[window][1]:
                earliest[window] = (played, arrived - played)
        points = list(earliest.values())
        mean_x = statistics.fmean(x for x, _ in points)
        mean_y = statistics.fmean(y for _, y in points)
        spread = sum((x - mean_x) ** 2 for x, _ in points)
        self.slope = sum((x - mean_x) * (y - mean_y) for x, y in points) / spread if spread else 0.0
        self.offset = mean_y - self.slope * mean_x
        return self

    def time_of(self, frame):
        played = frame / RATE
        return played + self.offset + self.slope * played

    def onset_after(self, moment, limit=0.5):
        """Seconds from `moment` to the first sample louder than -50 dBFS and than what still
        sounded just before it, or None."""
        start = max(0, int((moment - self.offset) / (1 + self.slope) * RATE)) * CHANNELS
        before = self.samples[max(0, start - RATE // 50 * CHANNELS):start]
        threshold = max(SOUND, 4 * max(map(abs, before), default=0))
        for i, sample in enumerate(self.samples[start:start + int(limit * RATE) * CHANNELS]):
            if abs(sample) >= threshold:
                return self.time_of((start + i) // CHANNELS) - moment
        return None


class RawNotes:
    """Times notes from the controller's raw device to the listener's, one at a time."""

    def __init__(self):
        self.controller = alsa.RawController(CONTROLLER)
        self.heard = alsa.RawMidiMonitor(LISTENER)

    def close(self):
        self.controller.close()
        self.heard.close()

    def time_notes(self, count):
        """Milliseconds from each note-on's write to its arrival; None for one that never came."""
        delays = []
        for i in range(count):
            number = FIRST_NOTE + i % 48
            start = self.heard.count()
            sent = time.monotonic()
            self.controller.send((0x90, number, 100))
            found = self.heard.wait_for(start, 1, timeout=2)
            arrived = [m for m in found if m.data[:2] == (0x90, number)]
            delays.append((arrived[0].frame / 1e6 - sent) * 1000 if arrived else None)
            end = self.heard.count()
            self.controller.send((0x80, number, 0))
            self.heard.wait_for(end, 1, timeout=2)
        return delays


def program_env(desktop, folder):
    env = {k: v for k, v in os.environ.items() if k not in _FOREIGN_SETTINGS}
    env.update(desktop.env())
    env.update(QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=folder, XDG_CONFIG_HOME=os.path.join(folder, "config"),
               HOME=folder, PULSE_SERVER="unix:/nonexistent/varnek-alsa-bench", JACK_NO_START_SERVER="1",
               JACK_DEFAULT_SERVER="varnek-alsa-bench-none")
    return env


def vmpk_settings(env, folder, thru):
    """vmpk's settings as its dialogs write them: for the MIDI, ALSA in and out with MIDI thru;
    for the sound, its FluidSynth backend on ALSA, whose "default" is made card 1 for it."""
    profile = VMPK_PROFILE.replace("AudioDriver=pulseaudio", "AudioDriver=alsa")
    if thru:
        profile = profile.replace("InEnabled=false\nOutputDriver=FluidSynth\nOutPort=FluidSynth\n",
                                  "InEnabled=true\nInputDriver=ALSA\nThruEnabled=true\nOutputDriver=ALSA\n")
    config = os.path.join(env["XDG_CONFIG_HOME"], "vmpk.sourceforge.net")
    os.makedirs(config, exist_ok=True)
    with open(os.path.join(config, "VMPK.conf"), "w") as f:
        f.write(profile)
    with open(os.path.join(folder, ".asoundrc"), "w") as f:
        f.write("defaults.pcm.card 1\ndefaults.ctl.card 1\n")


def ports_of(vmpk):
    """The program's sequencer input and output, once it has them."""
    def found():
        if vmpk:
            clients = alsa.clients()
            into = [alsa.address(name, port) for name, (_, ports) in clients.items() if name == "VMPK Input"
                    for port in ports]
            out = [alsa.address(name, port) for name, (_, ports) in clients.items() if name == "VMPK Output"
                   for port in ports]
            return (into[0], out[0]) if into and out else None
        into, out = alsa.address("Varnek", "MIDI in"), alsa.address("Varnek", "MIDI out")
        return (into, out) if into and out else None
    return wait_until(found, 30)


def start(program_path, processes, desktop, folder, vmpk_thru=None):
    env = program_env(desktop, folder)
    if vmpk_thru is not None:
        vmpk_settings(env, folder, vmpk_thru)
    program = processes.start("program", [program_path], env=env)
    window = desktop.wait_for_window(program.pid, "Varnek" if vmpk_thru is None else "Virtual MIDI Piano Keyboard",
                                     60)
    if window is None:
        raise RuntimeError(f"{program_path}: no window\n{read_log(program)}")
    desktop.focus(window)
    return program


def time_thru(program, vmpk, notes, count):
    ports = ports_of(vmpk)
    if not ports:
        raise RuntimeError(f"no sequencer ports: {alsa.clients()}\n{read_log(program)}")
    alsa.connect(alsa.virtual_port(CONTROLLER), ports[0])
    alsa.connect(ports[1], alsa.virtual_port(LISTENER))
    return notes.time_notes(count)


def time_keys(program, desktop, vmpk, count):
    keys = Keys(desktop)
    layout = (vmpk_layout if vmpk else varnek_layout)(desktop.x)
    # The card records only while something plays on it: a first key starts Varnek's stream,
    # which rests after 3 s of silence, and the keys come often enough to keep it playing.
    keys.play(layout.a4, 0.1)
    recorder = CardRecording()
    time.sleep(0.6)
    stamps = []
    for i in range(count):
        stamps.append(keys.play(layout.scale[i % len(layout.scale)], 0.1))
        time.sleep(0.6)
    try:
        recorder.stop()
    except RuntimeError as error:
        print(f"    {error}", file=sys.stderr)
        return []
    return [1000 * onset for onset in map(recorder.onset_after, stamps) if onset is not None]


def measure(program_path, args):
    """(controller -> output delays, key -> sound delays, what the program said)."""
    vmpk = os.path.basename(program_path) == "vmpk"
    figures, said = [], ""
    # vmpk passes its input on only to its one output: ALSA for the MIDI, FluidSynth for the sound.
    for part in ("thru", "sound") if vmpk else ("both",):
        folder = tempfile.mkdtemp(prefix="varnek-alsa-bench-")
        processes = ProcessGroup(folder)
        notes = RawNotes()
        desktop = Desktop(processes, 1024, 600)
        try:
            program = start(program_path, processes, desktop, folder, (part == "thru") if vmpk else None)
            if part != "sound":
                figures.append(time_thru(program, vmpk, notes, args.notes))
            if part != "thru":
                figures.append(time_keys(program, desktop, vmpk, args.keys))
            said += read_log(program)
        finally:
            notes.close()
            processes.stop_all()
            desktop.close()
            shutil.rmtree(folder, ignore_errors=True)
    return figures[0], figures[1], said


def read_log(process):
    with open(process.log_path, errors="replace") as f:
        return f.read()


def summary(values, count):
    came = [v for v in values if v is not None]
    if not came:
        return f"nothing came of {count}"
    lost = count - len(came)
    return (f"median {statistics.median(came):.2f} ms, p95 {percentile(came, 0.95):.2f} ms, worst {max(came):.2f} ms"
            + (f", {lost} of {count} never came" if lost else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("program", help="the varnek executable")
    parser.add_argument("--notes", type=int, default=1000)
    parser.add_argument("--keys", type=int, default=30)
    parser.add_argument("--runs", type=int, default=1)
    args = parser.parse_args()
    if not os.path.exists(alsa.RAW_DEVICE.format(0)):
        vm = os.path.join(HERE, "alsa_vm")
        os.execv(vm, [vm, "/usr/bin/python3", os.path.abspath(__file__), *sys.argv[1:]])
    programs = [os.path.abspath(args.program)] + ([VMPK] if os.path.exists(VMPK) else [])
    for run in range(args.runs):
        for program in programs:
            delays, sounds, log = measure(program, args)
            name = os.path.basename(program)
            print(f"run {run + 1}, {name}: controller -> its ALSA output: {summary(delays, args.notes)}")
            print(f"run {run + 1}, {name}: computer key -> sound on the loopback card: {summary(sounds, args.keys)}")
            for cause in re.findall(r"varnek: .*", log):
                print(f"    {cause}")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
