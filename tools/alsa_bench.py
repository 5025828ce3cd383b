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
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import alsa  # noqa: E402
from audio_bench import VMPK_PROFILE, Keys, MonitorRecorder, percentile, varnek_layout, vmpk_layout  # noqa: E402
from desktop import Desktop  # noqa: E402
from processes import ProcessGroup, wait_until  # noqa: E402
from pulse import CHANNELS, RATE  # noqa: E402
from varnek_session import _FOREIGN_SETTINGS  # noqa: E402

VMPK = "/usr/bin/vmpk"
CONTROLLER, LISTENER = 0, 1      # the virtual ports: 0-0 plays in, 0-1 hears what comes out
FIRST_NOTE = 29


class LoopbackCard:
    """Records the loopback card's other side as float stereo, with arecord's periods of 1 ms,
    in the form MonitorRecorder reads."""

    def record(self, latency_ms, sample_format):
        return subprocess.Popen([
            "arecord", "-q", "-D", "plughw:1,1", "-f", "FLOAT_LE", "-r", str(RATE), "-c", str(CHANNELS),
            "-t", "raw", f"--period-time={latency_ms * 500}", f"--buffer-time={latency_ms * 4000}",
        ], stdout=subprocess.PIPE)


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


def vmpk_settings(env, folder):
    """vmpk's settings as its dialogs write them: ALSA MIDI in and out with MIDI thru, and its
    FluidSynth backend on ALSA; ALSA's default is card 1 for it."""
    profile = VMPK_PROFILE.replace("InEnabled=false\n", "InEnabled=true\nInputDriver=ALSA\nThruEnabled=true\n")
    profile = profile.replace("AudioDriver=pulseaudio", "AudioDriver=alsa")
    config = os.path.join(env["XDG_CONFIG_HOME"], "vmpk.sourceforge.net")
    os.makedirs(config, exist_ok=True)
    with open(os.path.join(config, "VMPK.conf"), "w") as f:
        f.write(profile)
    with open(os.path.join(folder, ".asoundrc"), "w") as f:
        f.write("defaults.pcm.card 1\ndefaults.ctl.card 1\n")


def ports_of(program):
    """The program's sequencer input and output, once it has them."""
    def found():
        clients = alsa.clients()
        if program == "vmpk":
            inputs = [(n, p) for n, (c, ports) in clients.items() for p in ports if "VMPK Input" in n]
            outputs = [(n, p) for n, (c, ports) in clients.items() for p in ports if "VMPK Output" in n]
            if inputs and outputs:
                return alsa.address(*inputs[0]), alsa.address(*outputs[0])
            return None
        into, out = alsa.address("Varnek", "MIDI in"), alsa.address("Varnek", "MIDI out")
        return (into, out) if into and out else None
    return wait_until(found, 30)


def measure(program_path, args):
    vmpk = os.path.basename(program_path) == "vmpk"
    folder = tempfile.mkdtemp(prefix="varnek-alsa-bench-")
    processes = ProcessGroup(folder)
    notes = RawNotes()
    try:
        desktop = Desktop(processes, 1024, 600)
        env = program_env(desktop, folder)
        if vmpk:
            vmpk_settings(env, folder)
        program = processes.start("program", [program_path], env=env)
        window = desktop.wait_for_window(program.pid, "VMPK" if vmpk else "Varnek", 60)
        if window is None:
            raise RuntimeError(f"{program_path}: no window")
        desktop.focus(window)
        ports = ports_of("vmpk" if vmpk else "varnek")
        if not ports:
            raise RuntimeError(f"{program_path}: no sequencer ports: {alsa.clients()}")
        alsa.connect(alsa.virtual_port(CONTROLLER), ports[0])
        alsa.connect(ports[1], alsa.virtual_port(LISTENER))
        delays = notes.time_notes(args.notes)

        keys = Keys(desktop)
        layout = (vmpk_layout if vmpk else varnek_layout)(desktop.x)
        recorder = MonitorRecorder(LoopbackCard())
        time.sleep(1.5)
        stamps = []
        for i in range(args.keys):
            stamps.append(keys.play(layout.scale[i % len(layout.scale)], 0.1))
            time.sleep(0.6)
        recorder.stop()
        sounds = [1000 * onset for onset in map(recorder.onset_after, stamps) if onset is not None]
        return delays, sounds, read_log(program)
    finally:
        notes.close()
        processes.stop_all()
        desktop.close()
        shutil.rmtree(folder, ignore_errors=True)


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
            cause = re.search(r"varnek: .*", log)
            if cause:
                print(f"    {cause.group(0)}")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
