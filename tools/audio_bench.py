#!/usr/bin/python3
"""How the built-in synth sounds through a desktop sound server: on a virtual desktop (Xvfb) and
a PulseAudio or PipeWire server of its own with a null sink, keys are played through XTEST with
monotonic time stamps while the sink's monitor is recorded, and the program is measured from
outside:

- key -> sound: from the key event to the first sound of its note on the sink's monitor,
  median and 95th percentile; also for the first note after a long silence;
- gaps: runs of digital silence inside continuous playing, 20 notes a second for 10 s; with
  --stalls, also how many of them came while the machine itself stalled: a real-time probe on
  every core wakes every 4 ms and notes when it woke 3 ms or more late (a virtual machine's
  host taking its cores away), which no program can play through with a short buffer. The
  probe is off by default, as it delays PulseAudio's main thread, which is not a real-time one;
- idle CPU of the program and of the server, 5 to 10 s and 10 to 15 s into a silence (% of one
  core), with nothing recording;
- peaks: a piano A4 at full velocity and a ten-key chord.

    tools/audio_bench.py build/varnek [--server pulseaudio|pipewire|both] [--runs 3] [--stalls]
    tools/audio_bench.py /usr/bin/vmpk --window "Virtual MIDI Piano Keyboard"

Any program that plays notes from the computer keyboard can be measured the same way. Needs what
the end-to-end tests need (./build.sh test installs it); runs on Debian's /usr/bin/python3."""

import argparse
import array
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from Xlib import X  # noqa: E402
from Xlib.ext import xtest  # noqa: E402

from desktop import Desktop  # noqa: E402
from panel_map import PLAYING_SCAN_CODES as SCAN, keycode  # noqa: E402
from processes import ProcessGroup, wait_until  # noqa: E402
from pulse import CHANNELS, RATE, SoundServer  # noqa: E402

A4 = 40
SCALE = [31, 33, 35, 36, 38, 40, 42, 43]          # C4 .. C5, white keys
CHORD = [19, 23, 26, 31, 35, 38, 43, 45, 47, 40]  # ten keys across three octaves
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
        """Presses the key and returns when the X server got it: the stamp is taken once the
        request has left for the server, as building it in Python takes 0.3-9 ms, more after
        an idle while, which is the benchmark's time and not the program's."""
        xtest.fake_input(self.x, X.KeyPress, keycode(SCAN[key]))
        self.x.flush()
        stamp = time.monotonic()
        self.x.sync()
        return stamp

    def up(self, key):
        xtest.fake_input(self.x, X.KeyRelease, keycode(SCAN[key]))
        self.x.sync()


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


def measure(args, kind):
    folder = tempfile.mkdtemp(prefix="varnek-audio-bench-")
    processes = ProcessGroup(folder)
    try:
        sound = SoundServer(processes, kind)
        desktop = Desktop(processes, 1024, 600)
        env = sound.client_env(desktop.env())
        env["QT_QPA_PLATFORM"] = "xcb"
        env["JACK_NO_START_SERVER"] = "1"
        env["JACK_DEFAULT_SERVER"] = "varnek-audio-bench-none"
        program = processes.start("program", [args.program], env=env)
        window = desktop.wait_for_window(program.pid, args.window, 30)
        if window is None:
            raise RuntimeError(f"no window named {args.window!r}")
        desktop.focus(window)
        keys = Keys(desktop)
        recorder = MonitorRecorder(sound)
        time.sleep(1.5)

        # Key -> sound, single notes far enough apart for each to start from near silence.
        stamps = []
        for i in range(args.notes):
            key = SCALE[i % len(SCALE)]
            stamps.append(keys.down(key))
            time.sleep(0.1)
            keys.up(key)
            time.sleep(0.6)

        # Gaps: 20 notes a second, each held 0.1 s, so the sound never stops.
        runs = []
        probe = StallProbe() if args.stalls else None
        for _ in range(args.runs):
            start = time.monotonic()
            held = []
            for i in range(200):
                key = SCALE[i % len(SCALE)]
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
        recorder.stop()
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

        # Idle: 5 s of silence, then 5 s measured, with nothing recording: a recorder keeps the
        # server busy.
        time.sleep(5)
        servers = sound.server_pids()
        idle = cpu_percent([program.pid] + servers, 5)
        idle_later = cpu_percent([program.pid] + servers, 5)

        # The first note after that silence, and a loud one.
        recorder = MonitorRecorder(sound)
        time.sleep(1.5)
        after_silence = keys.down(A4)
        time.sleep(1.0)
        keys.up(A4)
        time.sleep(1.5)
        chord_at = time.monotonic()
        for key in CHORD:
            keys.down(key)
        time.sleep(1.0)
        for key in CHORD:
            keys.up(key)
        chord_end = time.monotonic()
        time.sleep(0.5)
        recorder.stop()
        first_after_silence = recorder.onset_after(after_silence)
        a4_peak = max(map(abs, recorder.between(after_silence, after_silence + 1.0)), default=0)
        chord_peak = max(map(abs, recorder.between(chord_at, chord_end)), default=0)
        return {
            "latencies": latencies,
            "missed": args.notes - len(latencies),
            "after_silence_ms": None if first_after_silence is None else 1000 * first_after_silence,
            "gaps": gap_counts,
            "stalled_gaps": stalled_gaps,
            "stalls": stall_counts,
            "idle_program": idle[0],
            "idle_servers": idle[1:],
            "later_program": idle_later[0],
            "later_servers": idle_later[1:],
            "a4_peak": a4_peak,
            "chord_peak": chord_peak,
        }
    finally:
        processes.stop_all()
        shutil.rmtree(folder, ignore_errors=True)


def report(kind, figures):
    lat = figures["latencies"]
    servers = " + ".join(f"{c:.1f}" for c in figures["idle_servers"])
    print(f"{kind}:")
    if lat:
        print(f"  key -> sound        median {statistics.median(lat):.1f} ms, p95 {percentile(lat, 0.95):.1f} ms, "
              f"min {min(lat):.1f}, max {max(lat):.1f} ({len(lat)} notes, {figures['missed']} unheard)")
    else:
        print("  key -> sound        no note heard")
    after = figures["after_silence_ms"]
    print(f"  after 17 s silence  {'unheard' if after is None else f'{after:.1f} ms'}")
    stalls = (f", of them in a stall of the machine {figures['stalled_gaps']}; stalls of 3 ms or more "
              f"{figures['stalls']}" if figures["stalls"] else "")
    print(f"  gaps per 10 s       {figures['gaps']}{stalls}")
    print(f"  idle CPU  5-10 s    program {figures['idle_program']:.1f} %, server {servers} %")
    later = " + ".join(f"{c:.1f}" for c in figures["later_servers"])
    print(f"  idle CPU 10-15 s    program {figures['later_program']:.1f} %, server {later} %")
    print(f"  A4 peak             {dbfs(figures['a4_peak']):.1f} dBFS")
    print(f"  ten-key chord peak  {dbfs(figures['chord_peak']):.1f} dBFS")
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("program")
    parser.add_argument("--window", default="Varnek", help="the title of the program's window")
    parser.add_argument("--server", choices=("pulseaudio", "pipewire", "both"), default="both")
    parser.add_argument("--runs", type=int, default=3, help="runs of 10 s at 20 notes a second")
    parser.add_argument("--notes", type=int, default=30, help="single notes timed")
    parser.add_argument("--stalls", action="store_true",
                        help="probe the cores for stalls of the machine while the gaps are counted")
    args = parser.parse_args()
    kinds = ("pulseaudio", "pipewire") if args.server == "both" else (args.server,)
    for kind in kinds:
        report(kind, measure(args, kind))


if __name__ == "__main__":
    main()
