#!/usr/bin/python3
"""How the built-in synth sounds through a desktop sound server: on a virtual desktop (Xvfb) and
a PulseAudio or PipeWire server of its own with a null sink, keys are played through XTEST with
monotonic time stamps while the sink's monitor is recorded, and the program is measured from
outside:

- key -> sound: from the key event to the first sound of its note on the sink's monitor,
  median and 95th percentile; also for the first note after 5 s and after 17 s of silence;
- gaps: runs of digital silence inside continuous playing, 20 notes a second for 10 s; with
  --stalls, also how many of them came while the machine itself stalled: a real-time probe on
  every core wakes every 4 ms and notes when it woke 3 ms or more late (a virtual machine's
  host taking its cores away), which no program can play through with a short buffer. The
  probe is off by default, as it delays PulseAudio's main thread, which is not a real-time one;
- idle CPU of the program and of the server, 5 to 10 s and 10 to 15 s into a silence (% of one
  core), with nothing recording;
- peaks: a piano A4 at full velocity and a ten-key chord;
- on PipeWire's own graph, the quantum and rate that pw-top shows for the program's node.

Servers: PulseAudio; PipeWire whose clients reach only its PulseAudio service (pipewire-pulse);
PipeWire as desktops run it, its own socket beside its PulseAudio service (pipewire-native).

    tools/audio_bench.py build/varnek [--server pulseaudio|pipewire-pulse|pipewire-native|all]
                         [--runs 3] [--stalls]
    tools/audio_bench.py /usr/bin/vmpk

Debian's vmpk is measured as it plays with its FluidSynth backend on PulseAudio (or PipeWire's
service), given the same soundfont, with the keys of its own default map; other programs that
play notes from the computer keyboard can be measured with Varnek's keys and --window. Needs what
the end-to-end tests need (./build.sh test installs it); runs on Debian's /usr/bin/python3."""

import argparse
import array
import math
import os
import pty
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from Xlib import X, XK  # noqa: E402
from Xlib.ext import xtest  # noqa: E402

from desktop import Desktop  # noqa: E402
from panel_map import PLAYING_SCAN_CODES as SCAN, keycode  # noqa: E402
from processes import ProcessGroup, wait_until  # noqa: E402
from pulse import CHANNELS, RATE, SoundServer  # noqa: E402

SERVERS = {"pulseaudio": "pulseaudio", "pipewire-pulse": "pipewire-pulse", "pipewire-native": "pipewire"}


class Layout:
    """The keys played, as X keycodes: a C major scale, an A4 and a ten-key chord."""

    def __init__(self, scale, a4, chord):
        self.scale, self.a4, self.chord = scale, a4, chord


def varnek_layout(x):
    keys = lambda panel_keys: [keycode(SCAN[k]) for k in panel_keys]
    return Layout(keys([31, 33, 35, 36, 38, 40, 42, 43]), keys([40])[0],
                  keys([19, 23, 26, 31, 35, 38, 43, 45, 47, 40]))


def vmpk_layout(x):
    """vmpk's default map (Edit > Keyboard Map, saved from there) puts a chromatic octave from C on
    Q 2 W 3 E R 5 T 6 Y 7 U and goes on with I 9 O 0 P, one below on Z S X D C V G B H N J M."""
    keys = lambda letters: [x.keysym_to_keycode(XK.string_to_keysym(c.lower())) for c in letters]
    return Layout(keys("QWERTYUI"), keys("Y")[0], keys("ZCBMQETUOP"))


# vmpk's own settings file as its MIDI Connections and FluidSynth dialogs write it: its FluidSynth
# backend on PulseAudio with the soundfont Varnek plays, its other FluidSynth settings as the
# dialog has them by default, and no MIDI input (which would listen on the network). With no
# settings file it plays its Sonivox synth instead.
VMPK_PROFILE = """[Connections]
InEnabled=false
OutputDriver=FluidSynth
OutPort=FluidSynth

[FluidSynth]
AudioDriver=pulseaudio
BufferTime=93
Chorus=0
Gain=1
InstrumentsDefinition=/usr/share/sounds/sf2/FluidR3_GM.sf2
PeriodSize=512
Periods=8
Polyphony=256
Reverb=1
SampleRate=44100

[Preferences]
BaseOctave=3
"""


def write_vmpk_profile(env):
    folder = os.path.join(env["XDG_CONFIG_HOME"], "vmpk.sourceforge.net")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "VMPK.conf"), "w") as f:
        f.write(VMPK_PROFILE)

SOUND = 10 ** (-50 / 20)     # a note has begun once its level passes -50 dBFS
GAP_FRAMES = RATE // 1000    # a millisecond of digital silence inside playing is a gap
HZ = os.sysconf("SC_CLK_TCK")


class MonitorRecorder:
    """Records the null sink's monitor as float stereo, and notes when each piece arrived so
    that a sample's place can be turned into a monotonic time. A sample cannot arrive before it
    was played, so the earliest arrivals relative to their place mark the sink's clock; the
    sink's clock and the monotonic one drift apart by a few hundred parts per million, so a line
    is fitted through the earliest arrival of every half second."""

    def __init__(self, sound):
        self.process = sound.record(latency_ms=2, sample_format="float32le")
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
        SoundServer.stop_recording(self.process)
        self.thread.join(5)
        samples = array.array("f")
        usable = len(self.data) // (4 * CHANNELS) * 4 * CHANNELS
        samples.frombytes(bytes(self.data[:usable]))
        self.samples = samples
        self._fit_clock()
        return self

    def _fit_clock(self):
        earliest = {}
        start = self.arrivals[0][0]
        for arrived, frames in self.arrivals:
            played = frames / RATE
            window = int((arrived - start) * 2)
            if window not in earliest or arrived - played < earliest[window][1]:
                earliest[window] = (played, arrived - played)
        points = list(earliest.values())
        if len(points) < 2:
            self.offset, self.slope = points[0][1], 0.0
            return
        mean_x = statistics.fmean(x for x, _ in points)
        mean_y = statistics.fmean(y for _, y in points)
        sxx = sum((x - mean_x) ** 2 for x, _ in points)
        self.slope = sum((x - mean_x) * (y - mean_y) for x, y in points) / sxx
        self.offset = mean_y - self.slope * mean_x

    def time_of(self, frame):
        played = frame / RATE
        return played + self.offset + self.slope * played

    def index(self, moment):
        return max(0, int((moment - self.offset) / (1 + self.slope) * RATE)) * CHANNELS

    def between(self, start, end):
        return self.samples[self.index(start):self.index(end)]

    def onset_after(self, moment, limit=0.5):
        """Seconds from `moment` to the first sample louder than SOUND and than what still
        sounded just before it, or None."""
        start = self.index(moment)
        before = self.samples[max(0, start - RATE // 50 * CHANNELS):start]
        threshold = max(SOUND, 4 * max(map(abs, before), default=0))
        window = self.samples[start:start + int(limit * RATE) * CHANNELS]
        for i, sample in enumerate(window):
            if abs(sample) >= threshold:
                return self.time_of((start + i) // CHANNELS) - moment
        return None


class Keys:
    def __init__(self, desktop):
        self.x = desktop.x

    def down(self, key):
        """Presses the key (an X keycode) and returns when the X server got it: the stamp is
        taken once the request has left for the server, as building it in Python takes 0.3-9 ms,
        more after an idle while, which is the benchmark's time and not the program's."""
        xtest.fake_input(self.x, X.KeyPress, key)
        self.x.flush()
        stamp = time.monotonic()
        self.x.sync()
        return stamp

    def up(self, key):
        xtest.fake_input(self.x, X.KeyRelease, key)
        self.x.sync()

    def play(self, key, seconds):
        """Holds the key for `seconds`; returns when it went down."""
        stamp = self.down(key)
        time.sleep(seconds)
        self.up(key)
        return stamp


def pw_top_row(env, name, seconds=3):
    """pw-top's last row for the node named `name` (S ID QUANT RATE WAIT BUSY W/Q B/Q ERR FORMAT
    NAME) after `seconds`, or None. It draws on a terminal only, so it gets one."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execvpe("pw-top", ["pw-top"], dict(env, TERM="xterm", COLUMNS="160", LINES="40"))
    screen = b""
    deadline = time.monotonic() + seconds
    try:
        while time.monotonic() < deadline:
            if select.select([fd], [], [], 0.1)[0]:
                screen += os.read(fd, 65536)
    except OSError:
        pass
    finally:
        os.kill(pid, signal.SIGTERM)
        os.waitpid(pid, 0)
        os.close(fd)
    text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b[()][A-Z0-9]|\x1b[=>]", b"\n", screen).decode(errors="replace")
    rows = [line.split() for line in text.splitlines() if line.rstrip().endswith(" " + name)]
    return rows[-1] if rows else None


def cpu_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / HZ


def cpu_percent(pids, seconds):
    before = [cpu_seconds(p) for p in pids]
    time.sleep(seconds)
    return [100.0 * (cpu_seconds(p) - b) / seconds for p, b in zip(pids, before)]


def gaps(samples):
    """Where runs of at least GAP_FRAMES frames that are exactly zero on both channels begin,
    in frames."""
    starts = []
    run = 0
    for i in range(0, len(samples) - 1, CHANNELS):
        if samples[i] == 0.0 and samples[i + 1] == 0.0:
            run += 1
            if run == GAP_FRAMES:
                starts.append(i // CHANNELS - GAP_FRAMES + 1)
        else:
            run = 0
    return starts


# One process per core, pinned to it at the lowest real-time priority where allowed: above
# every ordinary thread, so that neither the programs' interfaces nor this script delay it, and
# below the audio threads, which it never holds up. It wakes every 4 ms, which costs little, and
# prints when and how late it woke whenever that was 3 ms or more.
PROBE = """
import os, sys, time
os.sched_setaffinity(0, {int(sys.argv[1])})
try:
    os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(1))
except OSError:
    pass
deadline = time.monotonic()
while True:
    deadline += 0.004
    time.sleep(max(0.0, deadline - time.monotonic()))
    late = time.monotonic() - deadline
    if late >= 0.003:
        print(f"{deadline} {late}", flush=True)
        deadline = time.monotonic()
"""


class StallProbe:
    """Stalls of the machine's cores while it runs: (monotonic start, seconds)."""

    def __init__(self):
        self.stalls = []
        self.processes = [subprocess.Popen([sys.executable, "-c", PROBE, str(cpu)], stdout=subprocess.PIPE,
                                           text=True) for cpu in sorted(os.sched_getaffinity(0))]
        self.threads = [threading.Thread(target=self._read, args=(p,), daemon=True) for p in self.processes]
        for thread in self.threads:
            thread.start()

    def _read(self, process):
        for line in process.stdout:
            start, late = map(float, line.split())
            self.stalls.append((start, late))

    def stop(self):
        for process in self.processes:
            process.terminate()
            process.wait(5)
        for thread in self.threads:
            thread.join(5)
        return self

    def during(self, start, end):
        return [s for s in self.stalls if start <= s[0] < end]

    def explains(self, moment):
        """A stall that began shortly before `moment` and may have emptied any short buffer."""
        return any(start - 0.002 <= moment <= start + late + 0.01 for start, late in self.stalls)


def dbfs(level):
    return 20 * math.log10(max(level, 1e-9))


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def measure(args, server):
    folder = tempfile.mkdtemp(prefix="varnek-audio-bench-")
    processes = ProcessGroup(folder)
    try:
        sound = SoundServer(processes, SERVERS[server])
        desktop = Desktop(processes, 1024, 600)
        env = sound.client_env(desktop.env())
        env["QT_QPA_PLATFORM"] = "xcb"
        env["JACK_NO_START_SERVER"] = "1"
        env["JACK_DEFAULT_SERVER"] = "varnek-audio-bench-none"
        env["VARNEK_LOG_AUDIO"] = "1"
        if args.vmpk:
            write_vmpk_profile(env)
        program = processes.start("program", [args.program], env=env)
        window = desktop.wait_for_window(program.pid, args.window, 30)
        if window is None:
            raise RuntimeError(f"no window named {args.window!r}")
        desktop.focus(window)
        keys = Keys(desktop)
        layout = (vmpk_layout if args.vmpk else varnek_layout)(desktop.x)
        recorder = MonitorRecorder(sound)
        time.sleep(1.5)

        # Key -> sound, single notes far enough apart for each to start from near silence.
        stamps = []
        for i in range(args.notes):
            stamps.append(keys.play(layout.scale[i % len(layout.scale)], 0.1))
            time.sleep(0.6)

        # Gaps: 20 notes a second, each held 0.1 s, so the sound never stops.
        runs = []
        probe = StallProbe() if args.stalls else None
        for _ in range(args.runs):
            start = time.monotonic()
            held = []
            for i in range(200):
                key = layout.scale[i % len(layout.scale)]
                keys.down(key)
                held.append((time.monotonic() + 0.1, key))
                time.sleep(0.05)
                while held and held[0][0] <= time.monotonic():
                    keys.up(held.pop(0)[1])
            for _, key in held:
                keys.up(key)
            runs.append((start, time.monotonic()))
            time.sleep(0.5)
        if probe:
            probe.stop()

        # The first note after 5 s of silence, the server still running for the recorder.
        # Meanwhile pw-top shows the graph's quantum and how many cycles the node has missed.
        silence_began = time.monotonic()
        graph = pw_top_row(sound.server_env(), "Varnek") if server == "pipewire-native" else None
        time.sleep(max(0.0, silence_began + 5 - time.monotonic()))
        after_5 = keys.play(layout.a4, 1.0)
        recorder.stop()
        silent_since = time.monotonic()
        latencies = [1000 * onset for onset in map(recorder.onset_after, stamps) if onset is not None]
        gap_counts = []
        stalled_gaps = []
        stall_counts = []
        for start, end in runs:
            first = start + (recorder.onset_after(start) or 0)
            offset = recorder.index(first) // CHANNELS
            moments = [recorder.time_of(offset + frame) for frame in gaps(recorder.between(first, end + 0.05))]
            gap_counts.append(len(moments))
            if probe:
                stalled_gaps.append(sum(map(probe.explains, moments)))
                stall_counts.append(len(probe.during(start, end)))
        first_after_5 = recorder.onset_after(after_5)

        # Idle: 5 s of silence, then 5 s measured twice, with nothing recording: a recorder keeps
        # the server busy.
        time.sleep(5)
        servers = sound.server_pids()
        idle = cpu_percent([program.pid] + servers, 5)
        idle_later = cpu_percent([program.pid] + servers, 5)

        # The first note after 17 s of silence, and a loud one.
        recorder = MonitorRecorder(sound)
        time.sleep(max(0.0, silent_since + 17 - time.monotonic()))
        after_17 = keys.play(layout.a4, 1.0)
        time.sleep(1.5)
        chord_at = time.monotonic()
        for key in layout.chord:
            keys.down(key)
        time.sleep(1.0)
        for key in layout.chord:
            keys.up(key)
        chord_end = time.monotonic()
        time.sleep(0.5)
        recorder.stop()
        first_after_17 = recorder.onset_after(after_17)
        a4_peak = max(map(abs, recorder.between(after_17, after_17 + 1.0)), default=0)
        chord_peak = max(map(abs, recorder.between(chord_at, chord_end)), default=0)
        with open(program.log_path) as log:
            reported = re.findall(r"quantum (\d+) frames at (\d+) Hz", log.read())
        milliseconds = lambda onset: None if onset is None else 1000 * onset
        return {
            "latencies": latencies,
            "missed": args.notes - len(latencies),
            "after_5_ms": milliseconds(first_after_5),
            "after_17_ms": milliseconds(first_after_17),
            "gaps": gap_counts,
            "stalled_gaps": stalled_gaps,
            "stalls": stall_counts,
            "idle_program": idle[0],
            "idle_servers": idle[1:],
            "later_program": idle_later[0],
            "later_servers": idle_later[1:],
            "a4_peak": a4_peak,
            "chord_peak": chord_peak,
            "reported": reported,
            "pw_top": graph and dict(zip(("quantum", "rate", "errors"), (graph[2], graph[3], graph[8]))),
        }
    finally:
        processes.stop_all()
        shutil.rmtree(folder, ignore_errors=True)


def report(server, figures):
    lat = figures["latencies"]
    servers = " + ".join(f"{c:.1f}" for c in figures["idle_servers"])
    print(f"{server}:")
    if lat:
        print(f"  key -> sound        median {statistics.median(lat):.1f} ms, p95 {percentile(lat, 0.95):.1f} ms, "
              f"min {min(lat):.1f}, max {max(lat):.1f} ({len(lat)} notes, {figures['missed']} unheard)")
    else:
        print("  key -> sound        no note heard")
    for seconds in (5, 17):
        after = figures[f"after_{seconds}_ms"]
        print(f"  after {seconds:2} s silence  {'unheard' if after is None else f'{after:.1f} ms'}")
    stalls = (f", of them in a stall of the machine {figures['stalled_gaps']}; stalls of 3 ms or more "
              f"{figures['stalls']}" if figures["stalls"] else "")
    print(f"  gaps per 10 s       {figures['gaps']}{stalls}")
    print(f"  idle CPU  5-10 s    program {figures['idle_program']:.1f} %, servers {servers} %")
    later = " + ".join(f"{c:.1f}" for c in figures["later_servers"])
    print(f"  idle CPU 10-15 s    program {figures['later_program']:.1f} %, servers {later} %")
    print(f"  A4 peak             {dbfs(figures['a4_peak']):.1f} dBFS")
    print(f"  ten-key chord peak  {dbfs(figures['chord_peak']):.1f} dBFS")
    if figures["reported"]:
        print("  graph as reported   " + ", ".join(f"{q} frames at {r} Hz" for q, r in figures["reported"]))
    if figures["pw_top"]:
        print("  pw-top              quantum {quantum} at {rate} Hz, {errors} errors".format(**figures["pw_top"]))
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("program")
    parser.add_argument("--window", help="the title of the program's window")
    parser.add_argument("--server", choices=(*SERVERS, "all"), default="all")
    parser.add_argument("--runs", type=int, default=3, help="runs of 10 s at 20 notes a second")
    parser.add_argument("--notes", type=int, default=30, help="single notes timed")
    parser.add_argument("--stalls", action="store_true",
                        help="probe the cores for stalls of the machine while the gaps are counted")
    args = parser.parse_args()
    args.vmpk = os.path.basename(args.program) == "vmpk"
    args.window = args.window or ("Virtual MIDI Piano Keyboard" if args.vmpk else "Varnek")
    for server in SERVERS if args.server == "all" else (args.server,):
        report(server, measure(args, server))


if __name__ == "__main__":
    main()
