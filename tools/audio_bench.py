#!/usr/bin/python3
"""How the built-in synth sounds through a desktop sound server: on a virtual desktop (Xvfb) and
a PulseAudio or PipeWire server of its own with a null sink, keys are played through XTEST with
monotonic time stamps while what the sink plays is recorded and dated by the server's own clock
(tools/dated_recording.py): on PipeWire by a node of the graph stamped with each cycle's time,
passive, so that the graph rests and changes its quantum as it would without it; on PulseAudio
by the server's timing information. The program is measured from outside:

- key -> sound: from the key event to the first sound of its note, over single notes: median,
  95th and 99th percentile and maximum; also the first note of a run (5 s after the program
  started) and the first note after 5 s and after 20 s of silence. A note the graph skipped
  cycles next to (its driver woke late: the machine's host stalled) is flagged, counted apart
  and left out of the figures;
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
On PipeWire, --pulse-timing records with PulseAudio's timing information beside the graph and
tells how far the two dates of each note lie apart.

    tools/audio_bench.py build/varnek [--beside limit vmpk] [--rounds 3]
                         [--server pulseaudio|pipewire-pulse|pipewire-native|all]
                         [--runs 3] [--notes 30] [--stalls] [--pulse-timing]
    tools/audio_bench.py /usr/bin/vmpk

--beside measures other programs in the same rounds, one after the other, each round in the
same order: `limit` is build/bench/clients/varnek_key_click, a PipeWire node at Varnek's latency
that starts a click at the first frame of the first cycle after it sees a key press (PipeWire's
own graph only); `vmpk` is Debian's vmpk as it plays with its FluidSynth backend on PulseAudio
(or PipeWire's service), given the same soundfont, with the keys of its own default map. Other
programs that play notes from the computer keyboard can be measured with Varnek's keys and
--window. Needs what the end-to-end tests need (./build.sh test installs it) and the build's
bench/clients; runs on Debian's /usr/bin/python3."""

import argparse
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
from pulse import SoundServer  # noqa: E402

from dated_recording import SOUND, Recorder, client_path  # noqa: E402

SERVERS = {"pulseaudio": "pulseaudio", "pipewire-pulse": "pipewire-pulse", "pipewire-native": "pipewire"}


class Layout:
    """The keys played, as X keycodes: a C major scale, an A4 and a ten-key chord."""

    def __init__(self, scale, a4, chord):
        self.scale, self.a4, self.chord = scale, a4, chord


# The panel's keys played: a C major scale from C4, its A4, and a ten-key chord.
SCALE = (31, 33, 35, 36, 38, 40, 42, 43)
A4 = 40
CHORD = (19, 23, 26, 31, 35, 38, 43, 45, 47, 40)


def varnek_layout(x):
    keys = lambda panel_keys: [keycode(SCAN[k]) for k in panel_keys]
    return Layout(keys(SCALE), keys([A4])[0], keys(CHORD))


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

HZ = os.sysconf("SC_CLK_TCK")
START_TO_FIRST_NOTE = 5      # seconds from the program's start to the first note of a run


class Keys:
    def __init__(self, desktop):
        self.x = desktop.x

    def prime(self):
        """Presses and lets go of Shift before any program starts. The first key that XTEST
        sends makes its virtual keyboard the X server's keyboard, and the server tells every
        client that follows keyboards (XkbNewKeyboardNotify); Qt then reads the whole keymap
        again in dozens of round trips, which would delay the first note of every run by a few
        milliseconds. On a desktop that has happened long before, when the user first typed."""
        shift = self.x.keysym_to_keycode(XK.string_to_keysym("Shift_L"))
        self.down(shift)
        self.up(shift)

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


class Program:
    """A program measured: how to start it, its window's title and the keys it plays."""

    def __init__(self, name, argv, window, layout, servers=None, setup=None, continuous=True):
        self.name, self.argv, self.window, self.layout = name, argv, window, layout
        self.continuous = continuous      # plays on while a key is held, so gaps can be counted
        self.servers = servers or tuple(SERVERS)
        self.setup = setup or (lambda env: None)


def programs_measured(args):
    build = args.build
    if os.path.basename(args.program) == "vmpk":
        main = Program("vmpk", [args.program], "Virtual MIDI Piano Keyboard", vmpk_layout,
                       setup=write_vmpk_profile)
    else:
        main = Program(os.path.basename(args.program), [args.program], args.window or "Varnek", varnek_layout)
    found = [main]
    for name in args.beside:
        if name == "limit":
            found.append(Program("limit", [client_path(build, "varnek_key_click")], "Key click", varnek_layout,
                                 servers=("pipewire-native",), continuous=False))
        elif name == "vmpk":
            found.append(Program("vmpk", ["/usr/bin/vmpk"], "Virtual MIDI Piano Keyboard", vmpk_layout,
                                 setup=write_vmpk_profile))
        else:
            raise SystemExit(f"unknown program to measure beside: {name}")
    return found


def sleep_until(moment):
    time.sleep(max(0.0, moment - time.monotonic()))


def note_onsets(recording, stamps):
    """(ms, flagged) of every note heard."""
    found = []
    for stamp in stamps:
        onset, flagged = recording.onset_after(stamp)
        if onset is not None:
            found.append((1000 * onset, flagged))
    return found


def start_recorders(args, sound, env, folder, name):
    """The graph's recorder on PipeWire (and PulseAudio's beside it with --pulse-timing), or
    PulseAudio's."""
    recorders = {}
    if sound.pipewire:
        # The graph's own socket, which clients of PipeWire's PulseAudio service alone do not see.
        recorders["graph"] = Recorder(args.build, sound.server_env(env), os.path.join(folder, name + "-graph"),
                                      pipewire=True)
    if not sound.pipewire or args.pulse_timing:
        recorders["pulse"] = Recorder(args.build, env, os.path.join(folder, name + "-pulse"), pipewire=False)
    return recorders


def stop_recorders(recorders):
    """The recordings, the one the figures come from first."""
    done = {kind: recorder.stop() for kind, recorder in recorders.items()}
    return done.get("graph") or done["pulse"], done.get("pulse") if "graph" in done else None


def timing_check(check, main, stamps):
    """How far PulseAudio's timing puts each note from where the graph's clock puts it, in ms."""
    if check is None:
        return []
    found = []
    for stamp in stamps:
        (truth, flagged), (told, _) = main.onset_after(stamp), check.onset_after(stamp)
        if truth is not None and told is not None and not flagged:
            found.append(1000 * (told - truth))
    return found


def measure(args, program, server):
    folder = tempfile.mkdtemp(prefix="varnek-audio-bench-")
    processes = ProcessGroup(folder)
    load_before = os.getloadavg()[0]
    try:
        sound = SoundServer(processes, SERVERS[server])
        desktop = Desktop(processes, 1024, 600)
        keys = Keys(desktop)
        keys.prime()
        env = sound.client_env(desktop.env())
        env["QT_QPA_PLATFORM"] = "xcb"
        env["JACK_NO_START_SERVER"] = "1"
        env["JACK_DEFAULT_SERVER"] = "varnek-audio-bench-none"
        env["VARNEK_LOG_AUDIO"] = "1"
        program.setup(env)
        recorders = start_recorders(args, sound, env, folder, "run")
        started = time.monotonic()
        process = processes.start("program", program.argv, env=env)
        window = desktop.wait_for_window(process.pid, program.window, 30)
        if window is None:
            raise RuntimeError(f"no window named {program.window!r}")
        desktop.focus(window)
        layout = program.layout(desktop.x)

        # The first note of a run, a few seconds after the start, as a user would play it.
        sleep_until(started + START_TO_FIRST_NOTE)
        first = [keys.play(layout.a4, 0.3)]
        time.sleep(1.0)

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

        # The first note after 5 s of silence, which lets the program rest. Meanwhile pw-top
        # shows the graph's quantum and how many cycles the node has missed.
        silence_began = time.monotonic()
        graph = pw_top_row(sound.server_env(), "Varnek") if server == "pipewire-native" else None
        sleep_until(silence_began + 5)
        after_5 = [keys.play(layout.a4, 1.0)]
        recording, check = stop_recorders(recorders)
        silent_since = time.monotonic()
        gap_counts, stalled_gaps, stall_counts, skips = [], [], [], []
        for start, end in runs if program.continuous else []:
            onset, _ = recording.onset_after(start)
            moments = recording.gaps(start + (onset or 0), end + 0.05)
            gap_counts.append(len(moments))
            skips.append(recording.skips_between(start, end))
            if probe:
                stalled_gaps.append(sum(map(probe.explains, moments)))
                stall_counts.append(len(probe.during(start, end)))
        if args.keep:
            with open(os.path.join(folder, "stamps.txt"), "w") as f:
                f.write(repr({"first": first, "notes": stamps, "after_5": after_5}))
        figures = {
            "notes": note_onsets(recording, stamps),
            "first": note_onsets(recording, first),
            "after_5": note_onsets(recording, after_5),
            "timing_check": timing_check(check, recording, first + stamps + after_5),
        }

        # Idle: 5 s of silence, then 5 s measured twice, with nothing recording.
        time.sleep(5)
        servers = sound.server_pids()
        idle = cpu_percent([process.pid] + servers, 5)
        idle_later = cpu_percent([process.pid] + servers, 5)

        # The first note after 20 s of silence, and a loud one.
        recorders = start_recorders(args, sound, env, folder, "late")
        sleep_until(silent_since + 20)
        after_20 = [keys.play(layout.a4, 1.0)]
        time.sleep(1.5)
        chord_at = time.monotonic()
        for key in layout.chord:
            keys.down(key)
        time.sleep(1.0)
        for key in layout.chord:
            keys.up(key)
        chord_end = time.monotonic()
        time.sleep(0.5)
        recording, check = stop_recorders(recorders)
        figures["after_20"] = note_onsets(recording, after_20)
        figures["timing_check"] += timing_check(check, recording, after_20)
        with open(process.log_path) as log:
            reported = re.findall(r"quantum (\d+) frames at (\d+) Hz", log.read())
        figures.update({
            "gaps": gap_counts,
            "stalled_gaps": stalled_gaps,
            "stalls": stall_counts,
            "skips": skips,
            "idle_program": idle[0],
            "idle_servers": idle[1:],
            "later_program": idle_later[0],
            "later_servers": idle_later[1:],
            "a4_peak": recording.peak(after_20[0], after_20[0] + 1.0),
            "chord_peak": recording.peak(chord_at, chord_end),
            "reported": reported,
            "pw_top": graph and dict(zip(("quantum", "rate", "errors"), (graph[2], graph[3], graph[8]))),
            "load": (load_before, os.getloadavg()[0]),
        })
        return figures
    finally:
        processes.stop_all()
        if args.keep:
            print(f"  logs and recordings kept in {folder}")
        else:
            shutil.rmtree(folder, ignore_errors=True)


def one_note(onsets):
    if not onsets:
        return "unheard"
    ms, flagged = onsets[0]
    return f"{ms:.1f} ms" + (" (next to a skipped cycle)" if flagged else "")


def report(name, server, figures):
    notes = figures["notes"]
    lat = [ms for ms, flagged in notes if not flagged]
    flagged = len(notes) - len(lat)
    servers = " + ".join(f"{c:.1f}" for c in figures["idle_servers"])
    print(f"{name} on {server} (load average {figures['load'][0]:.1f} -> {figures['load'][1]:.1f}):")
    if lat:
        print(f"  key -> sound        median {statistics.median(lat):.2f} ms, p95 {percentile(lat, 0.95):.2f}, "
              f"p99 {percentile(lat, 0.99):.2f}, max {max(lat):.2f}, min {min(lat):.2f} ({len(lat)} notes, "
              f"{flagged} next to a skipped cycle, {figures_missed(figures)} unheard)")
    else:
        print("  key -> sound        no note heard")
    print(f"  first of the run    {one_note(figures['first'])}")
    for seconds in (5, 20):
        print(f"  after {seconds:2} s silence  {one_note(figures[f'after_{seconds}'])}")
    stalls = (f", of them in a stall of the machine {figures['stalled_gaps']}; stalls of 3 ms or more "
              f"{figures['stalls']}" if figures["stalls"] else "")
    if figures["gaps"]:
        print(f"  gaps per 10 s       {figures['gaps']}{stalls}; graph cycles skipped {figures['skips']}")
    print(f"  idle CPU  5-10 s    program {figures['idle_program']:.1f} %, servers {servers} %")
    later = " + ".join(f"{c:.1f}" for c in figures["later_servers"])
    print(f"  idle CPU 10-15 s    program {figures['later_program']:.1f} %, servers {later} %")
    print(f"  A4 peak             {dbfs(figures['a4_peak']):.1f} dBFS")
    print(f"  ten-key chord peak  {dbfs(figures['chord_peak']):.1f} dBFS")
    if figures["reported"]:
        print("  graph as reported   " + ", ".join(f"{q} frames at {r} Hz" for q, r in figures["reported"]))
    if figures["pw_top"]:
        print("  pw-top              quantum {quantum} at {rate} Hz, {errors} errors".format(**figures["pw_top"]))
    if figures["timing_check"]:
        apart = figures["timing_check"]
        print(f"  PulseAudio's timing minus the graph's clock: median {statistics.median(apart):+.2f} ms, "
              f"most {max(apart, key=abs):+.2f} ms ({len(apart)} notes)")
    sys.stdout.flush()


def figures_missed(figures):
    return figures["expected"] - len(figures["notes"])


def summary(name, server, rounds):
    """Ranges over the rounds: the figures the README's tables give."""
    medians, p95s, p99s, maxima = [], [], [], []
    for figures in rounds:
        lat = [ms for ms, flagged in figures["notes"] if not flagged]
        if lat:
            medians.append(statistics.median(lat))
            p95s.append(percentile(lat, 0.95))
            p99s.append(percentile(lat, 0.99))
            maxima.append(max(lat))
    span = lambda values: f"{min(values):.2f}-{max(values):.2f}" if values else "-"
    singles = lambda key: ", ".join(one_note(f[key]) for f in rounds)
    loads = [f["load"][0] for f in rounds] + [f["load"][1] for f in rounds]
    print(f"{name} on {server}, {len(rounds)} rounds (load average {min(loads):.1f}-{max(loads):.1f}): "
          f"median {span(medians)} ms, p95 {span(p95s)}, p99 {span(p99s)}, max {span(maxima)}")
    print(f"  first of the run {singles('first')}; after 5 s {singles('after_5')}; after 20 s {singles('after_20')}")
    if any(f["gaps"] for f in rounds):
        print(f"  gaps per 10 s {[g for f in rounds for g in f['gaps']]}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("program")
    parser.add_argument("--beside", nargs="*", default=[], choices=("limit", "vmpk"),
                        help="programs measured in the same rounds")
    parser.add_argument("--rounds", type=int, default=1, help="rounds, every program measured once in each")
    parser.add_argument("--build", help="the build holding bench/clients (by default the program's folder)")
    parser.add_argument("--window", help="the title of the program's window")
    parser.add_argument("--server", choices=(*SERVERS, "all"), default="all")
    parser.add_argument("--runs", type=int, default=3, help="runs of 10 s at 20 notes a second")
    parser.add_argument("--notes", type=int, default=30, help="single notes timed")
    parser.add_argument("--stalls", action="store_true",
                        help="probe the cores for stalls of the machine while the gaps are counted")
    parser.add_argument("--keep", action="store_true", help="keep the logs and recordings of every run")
    parser.add_argument("--pulse-timing", action="store_true",
                        help="on PipeWire, also date the notes by PulseAudio's timing information")
    args = parser.parse_args()
    args.build = args.build or os.path.dirname(os.path.abspath(args.program))
    if not os.path.exists(client_path(args.build, "varnek_record_sound")):
        args.build = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build")
    programs = programs_measured(args)
    for server in SERVERS if args.server == "all" else (args.server,):
        results = {program.name: [] for program in programs}
        for _ in range(args.rounds):
            for program in programs:
                if server not in program.servers:
                    continue
                figures = measure(args, program, server)
                figures["expected"] = args.notes
                report(program.name, server, figures)
                results[program.name].append(figures)
        if args.rounds > 1:
            for name, rounds in results.items():
                if rounds:
                    summary(name, server, rounds)


if __name__ == "__main__":
    main()
