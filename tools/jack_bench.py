#!/usr/bin/python3
"""How fast Varnek plays what comes in at its own JACK MIDI input, measured from outside on an
Xvfb display and a JACK dummy server of the script's own (48 kHz, 256-frame periods, or
--period 128). A probe client sends each note at a known frame, the notes' offsets spread
evenly over the cycle as a real controller's are, and another records what arrives, stamped
with the server's frame (the cycle's first frame plus the event's offset): where both ends are
JACK clients the figures are in frames, exact whatever the machine's load, and also in periods
and in milliseconds at 48 kHz. "Cycles later" counts how many cycles after the one a note was
sent in it arrived: 0 is the same cycle.

1. controller -> Varnek:MIDI out, Varnek's own output port;
2. controller -> the Play Thru port: a probe input chosen in Play Thru;
3. controller -> sound from the built-in synth on JACK (Varnek Synth, recorded in the probe):
   to the first sample above -50 dBFS;
4. computer key -> sound from the same synth: XTEST key presses stamped once the request has
   left for the X server, turned into the server's frame by the wall time of the cycle under
   way then (an estimate, unlike 1-3);
5. Debian's jack-keyboard (apt-get install jack-keyboard), on the same server in the same run,
   passing the notes of 1 from its MIDI input to its MIDI output;
6. a flood: 1,000 notes a second for 10 s into Varnek:MIDI in, on every channel and over the
   whole range; on Varnek:MIDI out and on the Play Thru port every note-on must be paired with
   its note-off (the same channel and note, a note-on of velocity 0), none lost, none left
   held; Varnek's resident memory before, during and after. --flood-rate sets the notes a
   second and --flood-seconds the time; --flood-synth floods the built-in synth instead of the
   Play Thru port, and then records whether it sounds on two seconds after the flood;
7. with --loop thru (or varnek): Varnek:MIDI out looped back into Varnek:MIDI in through a
   plain MIDI-thru client (or a second Varnek, cross-connected), then a click on PROGRAM UP
   and a controller's note with its end and a modulation value in one cycle: the messages a
   second on Varnek:MIDI out, Varnek's resident memory and its processor time, 5 s and 60 s
   after; then 1 and 2 again with the loop connected.

    tools/jack_bench.py build/varnek [--period 128] [--runs 3] [--loop thru|varnek]

Varnek is given no PulseAudio (a runtime folder of its own, PULSE_SERVER unset), so its synth
plays through the JACK server. Runs on Debian's /usr/bin/python3 with python3-jack-client and
python3-xlib."""

import argparse
import array
import bisect
import collections
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from audio_bench import SCALE, SOUND, Keys, percentile  # noqa: E402
from controller import VARNEK_IN, VARNEK_OUT, Thru, jack as jack_client  # noqa: E402
from panel_map import PANEL_HEIGHT, PROGRAM_UP  # noqa: E402
from desktop import Desktop  # noqa: E402
from jack import SAMPLE_RATE, JackServer  # noqa: E402
from processes import ProcessGroup, read_text, wait_until  # noqa: E402
from varnek_session import _FOREIGN_SETTINGS  # noqa: E402

SYNTH_OUT = "Varnek Synth:left"
PLAY_THRU_CLIENT = "Varnek Play Thru"
PEER = "jack-keyboard"
PEER_IN, PEER_OUT = PEER + ":midi_in", PEER + ":midi_out"
FIRST_NOTE = 29                  # the panel's first key, F1
NOTE_ON, NOTE_OFF = 0x90, 0x80

MEASURES = [
    ("own_out", "1 controller -> Varnek:MIDI out"),
    ("play_thru", "2 controller -> Play Thru port"),
    ("controller_sound", "3 controller -> synth sound"),
    ("key_sound", "4 computer key -> synth sound"),
    ("peer", "5 jack-keyboard: MIDI in -> out"),
]


class Sender:
    """The controller: a JACK client with a MIDI output into Varnek and one into the peer. A
    message goes in the sender's next cycle at the offset asked for, and its frame is noted; a
    flood goes frame by frame as scheduled."""

    def __init__(self, server):
        self.client = jack_client.Client("bench-controller", no_start_server=True, servername=server)
        self.varnek = self.client.midi_outports.register("to Varnek")
        self.peer = self.client.midi_outports.register("to peer")
        self.pending = collections.deque()
        self.flood = []           # (frame, message), in order of frame
        self.flooded = 0
        self.cycles = []          # (monotonic time the cycle's callback began, its first frame)
        self.client.set_process_callback(self._process)
        self.client.activate()

    def _process(self, frames):
        woke = time.monotonic()
        start = self.client.last_frame_time
        self.cycles.append((woke, start))
        self.varnek.clear_buffer()
        self.peer.clear_buffer()
        earliest = 0              # the events of a buffer must come in order of time
        while self.pending:
            message, offset, ports, stamp = self.pending.popleft()
            earliest = max(earliest, min(offset, frames - 1))
            for port in ports:
                port.write_midi_event(earliest, message)
            stamp.append(start + earliest)
        while self.flooded < len(self.flood) and self.flood[self.flooded][0] < start + frames:
            frame, message = self.flood[self.flooded]
            self.varnek.write_midi_event(max(0, frame - start), message)
            self.flooded += 1

    def frame_at(self, moment):
        """The server's frame at a monotonic moment: the first frame of the cycle under way
        then, plus the time since its callback began, at most one period, as a stalled server
        plays nothing. JACK's own estimates (jack_frame_time, and the cycle times that
        jack_get_cycle_times gives) are filtered over many cycles and drift by tens of
        milliseconds, at times a hundred, from the cycles of a dummy server that the machine's
        load delays."""
        i = bisect.bisect_right(self.cycles, (moment, float("inf"))) - 1
        woke, start = self.cycles[i]
        return start + min(self.client.blocksize, (moment - woke) * SAMPLE_RATE)

    def send(self, message, offset, to_peer=False):
        """Queues one message for `offset` frames into a cycle; the list returned gets the
        frame it left at."""
        stamp = []
        ports = (self.varnek, self.peer) if to_peer else (self.varnek,)
        self.pending.append((bytes(message), offset, ports, stamp))
        return stamp

    def close(self):
        self.client.deactivate()
        self.client.close()


class Listener:
    """The recorder: a JACK client with MIDI inputs for Varnek's output, the Play Thru port and
    the peer's output, and an audio input for the synth, recorded only while asked to. Its Play
    Thru port is registered last, so that it is the last JACK port in Varnek's Play Thru menu."""

    def __init__(self, server):
        self.client = jack_client.Client("bench-recorder", no_start_server=True, servername=server)
        self.synth = self.client.inports.register("synth")
        self.midi = {name: self.client.midi_inports.register(name) for name in ("own_out", "peer", "play_thru")}
        self.events = {name: [] for name in self.midi}
        self.recording = False
        self.audio = []           # (first frame, float samples) of each cycle recorded
        self.client.set_process_callback(self._process)
        self.client.activate()

    def _process(self, frames):
        start = self.client.last_frame_time
        for name, port in self.midi.items():
            for offset, data in port.incoming_midi_events():
                self.events[name].append((start + offset, bytes(data)))
        if self.recording:
            self.audio.append((start, bytes(self.synth.get_buffer())))

    def port(self, name):
        return self.client.name + ":" + name

    def arrival(self, name, message, frame, within):
        """The frame at which `message` first arrived at input `name` from the cycle of `frame`
        on, or None. What a client sends in the cycle it received a message in may be stamped
        before that message: Varnek sends everything at the start of a cycle."""
        events = self.events[name]
        i = bisect.bisect_left(events, (frame - frame % self.client.blocksize, b""))
        while i < len(events) and events[i][0] < frame + within:
            if events[i][1] == message:
                return events[i][0]
            i += 1
        return None

    def sound(self):
        """The recording as one run of samples, and the frame of its first sample."""
        samples = array.array("f")
        first = self.audio[0][0]
        for start, data in self.audio:
            missing = start - first - len(samples)
            if missing < 0:
                raise RuntimeError("the recording's cycles overlap")
            samples.extend([0.0] * missing)
            samples.frombytes(data)
        return first, samples

    def close(self):
        self.client.deactivate()
        self.client.close()


def onset(first, samples, frame, period, limit=SAMPLE_RATE // 2):
    """The frame of the first sample from the cycle of `frame` on that is louder than SOUND and
    than what still sounded in the 20 ms before that cycle, or None. A synth that renders a
    cycle after a note came in it starts the note at the cycle's start."""
    start = frame - frame % period - first
    before = samples[max(0, start - SAMPLE_RATE // 50):max(0, start)]
    threshold = max(SOUND, 4 * max(map(abs, before), default=0))
    for i in range(max(0, start), min(len(samples), start + limit)):
        if abs(samples[i]) >= threshold:
            return first + i
    return None


def resident_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def processor_ticks(pid):
    """User and system time of a process, in clock ticks."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def stop_jack_gently(server):
    """SIGTERM and a wait, never SIGKILL: a killed server keeps its slot in JACK's machine-wide
    registry, and after a few no new server can start."""
    if server.poll() is None:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(60)
        except subprocess.TimeoutExpired:
            print(f"jackd (pid {server.pid}) did not end within 60 s after SIGTERM; left running",
                  file=sys.stderr)


class Bench:
    """One run: the servers, Varnek, the peer and the probes, and the measures taken on them."""

    def __init__(self, args):
        self.args = args
        self.folder = tempfile.mkdtemp(prefix="varnek-jack-bench-")
        self.processes = ProcessGroup(self.folder)
        self.sender = self.listener = self.varnek = self.peer = None
        self.closing = []

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def _start(self):
        self.desktop = Desktop(self.processes, 1024, 600)
        self.jack = JackServer(self.processes, period=self.args.period)
        self.jack.server.stop = lambda: stop_jack_gently(self.jack.server)
        self.period = self.args.period
        if shutil.which(PEER):
            self.peer = self.processes.start("peer", [PEER], env=self.jack.client_env(self.desktop.env()))
            if not self.jack.wait_for_port(PEER_OUT):
                raise RuntimeError(f"{PEER} did not start:\n" + read_text(self.peer.log_path))
        self.sender = Sender(self.jack.name)
        self.listener = Listener(self.jack.name)
        self.varnek = self.processes.start("varnek", [self.args.program], env=self._varnek_env())
        self.window = self.desktop.wait_for_window(self.varnek.pid, "Varnek", 30)
        if self.window is None or not self.jack.wait_for_port(VARNEK_IN) or not self.jack.wait_for_port(SYNTH_OUT):
            raise RuntimeError(f"Varnek did not start with its ports and its synth on JACK; ports: "
                               f"{self.jack.ports()}\n" + read_text(self.varnek.log_path, tail=20))
        self.sender.client.connect(self.sender.varnek, VARNEK_IN)
        self.listener.client.connect(VARNEK_OUT, self.listener.midi["own_out"])
        self.listener.client.connect(SYNTH_OUT, self.listener.synth)
        if self.peer:
            self.sender.client.connect(self.sender.peer, PEER_IN)
            self.listener.client.connect(PEER_OUT, self.listener.midi["peer"])
        self.desktop.focus(self.window)
        self.keys = Keys(self.desktop)

    def _varnek_env(self, folder="run"):
        env = {k: v for k, v in self.desktop.env().items() if k not in _FOREIGN_SETTINGS}
        env["QT_QPA_PLATFORM"] = "xcb"
        # An empty runtime folder and no PULSE_SERVER: no PulseAudio or PipeWire to find, so
        # the built-in synth plays through the JACK server.
        runtime = os.path.join(self.folder, folder)
        os.makedirs(runtime, mode=0o700)
        env["XDG_RUNTIME_DIR"] = runtime
        return self.jack.client_env(env)

    def __exit__(self, *_):
        for close in self.closing:
            close()
        for probe in (self.sender, self.listener):
            if probe:
                probe.close()
        # Closed as a user closes them, so that they leave the JACK server cleanly.
        for process, name in ((self.varnek, "Varnek"), (self.peer, PEER)):
            window = process and process.poll() is None and self.desktop.window_of(process.pid, name)
            if window:
                self.desktop.request_close(window)
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    pass
        self.processes.stop_all()
        if hasattr(self, "desktop"):
            self.desktop.close()
        shutil.rmtree(self.folder, ignore_errors=True)
        return False

    # ---- Playing -----------------------------------------------------------------------------

    def note(self, i, note, velocity, hold, gap, to_peer=False):
        """The controller's i-th note, on channel 1; the frame its note-on left at. A real
        controller's notes come anywhere in a cycle, as keys do: the notes' offsets go evenly
        over the cycle."""
        offset = i * 101 % self.period
        stamp = self.sender.send((NOTE_ON, note, velocity), offset, to_peer)
        time.sleep(hold)
        self.sender.send((NOTE_OFF, note, 0), offset, to_peer)
        time.sleep(gap)
        if not wait_until(lambda: stamp, 10):
            raise RuntimeError("the JACK server ran no cycle for 10 s")
        return stamp[0]

    def choose_play_thru_probe(self):
        """Chooses the recorder's Play Thru input from Play Thru: the JACK ports come last in
        the menu and it is the last of them, the item above the first one."""
        self.desktop.key("alt+t")
        wait_until(self.desktop.popups, 5)
        self.desktop.key("Up", "Return")
        wait_until(lambda: not self.desktop.popups(), 5)
        port = self.listener.port("play_thru")
        chosen = wait_until(lambda: any(p.startswith(PLAY_THRU_CLIENT) for p in
                                        self.jack.connections().get(port, [])), 5)
        if not chosen:
            raise RuntimeError(f"Play Thru did not open {port}: {self.jack.connections()}")
        self.desktop.focus(self.window)

    # ---- The measures ------------------------------------------------------------------------

    def sounds(self):
        """3 and 4: controller notes, then computer keys, one at a time; a piano note held 50 ms
        has faded below -50 dBFS half a second after it began."""
        notes = [FIRST_NOTE + key for key in SCALE]
        for i, note in enumerate(notes):  # the samples of each note read before timing
            self.note(i, note, 127, 0.05, 0.45)
        self.listener.recording = True
        time.sleep(0.1)
        controller = [self.note(i, notes[i % len(notes)], 127, 0.05, 0.45) for i in range(self.args.sound_notes)]
        keys = []
        for i in range(self.args.sound_notes):
            key = SCALE[i % len(SCALE)]
            keys.append(self.keys.down(key))
            time.sleep(0.05)
            self.keys.up(key)
            time.sleep(0.45)
        time.sleep(0.5)
        self.listener.recording = False
        first, samples = self.listener.sound()
        self.listener.audio = []
        keys = [self.sender.frame_at(moment) for moment in keys]
        return {
            "controller_sound": [(frame, onset(first, samples, frame, self.period)) for frame in controller],
            "key_sound": [(frame, onset(first, samples, round(frame), self.period)) for frame in keys],
        }

    def ports(self):
        """1, 2 and 5 on the same notes, sent to Varnek and to the peer in the same cycle."""
        sent = []
        for i in range(self.args.notes):
            note, velocity = 48 + i % 37, 1 + i * 13 % 127
            sent.append((self.note(i, note, velocity, 0.015, 0.015, to_peer=True), bytes((NOTE_ON, note, velocity))))
        time.sleep(0.3)
        return {name: [(frame, self.listener.arrival(name, message, frame, SAMPLE_RATE // 2))
                       for frame, message in sent]
                for name in ("own_out", "play_thru", "peer") if name != "peer" or self.peer}

    def flood(self):
        """6: the notes, checked on both recorders, and Varnek's resident memory every half
        second from before to after."""
        seconds = self.args.flood_seconds
        spacing = max(1, SAMPLE_RATE // self.args.flood_rate)
        count = seconds * self.args.flood_rate
        marks = {name: len(self.listener.events[name]) for name in ("own_out", "play_thru")}
        start = self.listener.client.frame_time + 4 * self.period
        schedule = []
        sent = collections.Counter()
        for i in range(count):
            # Every channel and note from A0 to C8; a channel and note come back 176 ms later,
            # after their note has ended (held 5 to 44 ms).
            channel, note, velocity = i % 16, 21 + i * 5 % 88, 1 + i * 13 % 127
            on = start + i * spacing
            schedule.append((on, bytes((NOTE_ON | channel, note, velocity))))
            schedule.append((on + spacing * (5 + i * 37 % 40), bytes((NOTE_OFF | channel, note, 64))))
            sent[(note, velocity)] += 1
        schedule.sort(key=lambda event: event[0])
        memory = [(0.0, resident_kb(self.varnek.pid))]
        self.sender.flooded = 0
        self.sender.flood = schedule
        began = time.monotonic()
        while self.sender.flooded < len(schedule) or time.monotonic() - began < seconds + 3:
            time.sleep(0.5)
            memory.append((time.monotonic() - began, resident_kb(self.varnek.pid)))
        self.sender.flood = []
        result = {
            "sent": count,
            "seconds": seconds,
            "memory": memory,
            "recorders": {name: pairing(self.listener.events[name][mark:], sent) for name, mark in marks.items()},
        }
        if self.args.flood_synth:
            time.sleep(2.0)   # the last notes' release
            result["synth_after"] = self.synth_peak(1.0)
        return result

    def synth_peak(self, seconds):
        """The loudest sample the synth plays over the next `seconds`."""
        self.listener.recording = True
        time.sleep(seconds)
        self.listener.recording = False
        _, samples = self.listener.sound()
        self.listener.audio = []
        return max(map(abs, samples), default=0.0)

    def choose_synth(self):
        """Chooses the Midi Mapper, the built-in synth, the first item of Play Thru."""
        self.desktop.key("alt+t")
        wait_until(self.desktop.popups, 5)
        self.desktop.key("Return")
        wait_until(lambda: not self.desktop.popups(), 5)
        self.desktop.focus(self.window)

    def loop(self, kind):
        """7: what a loop costs over a minute."""
        if kind == "thru":
            thru = Thru(self.jack.name, "bench-thru")
            thru.loop()
            self.closing.append(thru.close)
        else:
            other = self.processes.start("varnek-other", [self.args.program], env=self._varnek_env("run-other"))
            if not self.jack.wait_for_port("Varnek-01:MIDI in"):
                raise RuntimeError("the second Varnek did not start:\n" + read_text(other.log_path, tail=20))
            self.sender.client.connect(VARNEK_OUT, "Varnek-01:MIDI in")
            self.sender.client.connect("Varnek-01:MIDI out", VARNEK_IN)
            self.desktop.xdotool("windowraise", self.window.id)
        time.sleep(1.0)   # the connections in place, and the second Varnek's start over
        x, y, _, height = self.desktop.geometry(self.window)
        self.desktop.click(x + PROGRAM_UP.centre[0], y + height - PANEL_HEIGHT + PROGRAM_UP.centre[1])
        self.sender.send((NOTE_ON, 64, 80), 0)
        self.sender.send((NOTE_OFF, 64, 0), 0)
        self.sender.send((0xB0, 1, 60), 0)
        began = time.monotonic()
        samples = {}
        for at in (5, 60):
            time.sleep(max(0, began + at - 1 - time.monotonic()))
            heard, ticks = len(self.listener.events["own_out"]), processor_ticks(self.varnek.pid)
            time.sleep(1.0)
            samples[at] = {
                "messages_a_second": len(self.listener.events["own_out"]) - heard,
                "cpu_percent": 100 * (processor_ticks(self.varnek.pid) - ticks) / os.sysconf("SC_CLK_TCK"),
                "rss_mb": resident_kb(self.varnek.pid) / 1024,
            }
        return {"kind": kind, "at": samples}


def pairing(events, sent):
    """How the flood arrived: every note-on must be followed by its note-off on the same channel
    and note (a note-on of velocity 0) before that note sounds again, and every note sent must
    come once with its velocity."""
    held = collections.Counter()
    got = collections.Counter()
    found = collections.Counter()
    for _, data in events:
        kind = data[0] & 0xF0 if len(data) == 3 else None
        if kind == NOTE_ON and data[2] > 0:
            key = (data[0] & 0x0F, data[1])
            found["doubled"] += held[key] > 0
            held[key] += 1
            got[(data[1], data[2])] += 1
            found["on"] += 1
        elif kind in (NOTE_ON, NOTE_OFF):
            key = (data[0] & 0x0F, data[1])
            if held[key] == 0:
                found["stray off"] += 1
            else:
                held[key] -= 1
                found["off"] += 1
            found["off as 80"] += kind == NOTE_OFF
        else:
            found["other"] += 1
    found["lost"] = sum((sent - got).values())
    found["changed or extra"] = sum((got - sent).values())
    found["left held"] = sum(held.values())
    return found


# ---- The report ----------------------------------------------------------------------------------

def figures(timed, period):
    """From (frame sent, frame arrived or None) of each note: the median, p95, least and most
    frames between, how many arrived, and how many cycles after its own each arrived in; None
    when none arrived."""
    arrived = [(sent, at) for sent, at in timed if at is not None]
    if not arrived:
        return None
    frames = [at - sent for sent, at in arrived]
    return {"median": statistics.median(frames), "p95": percentile(frames, 0.95), "min": min(frames),
            "max": max(frames), "count": len(frames), "missed": len(timed) - len(frames),
            "cycles": collections.Counter(int(at // period - sent // period) for sent, at in arrived)}


def frames_text(frames, period):
    return f"{frames:6.0f} fr {frames / period:4.2f} cy {1000 * frames / SAMPLE_RATE:5.2f} ms"


def report_run(result, period):
    print(f"{'measure':34} {'median':27} {'p95':27} {'min..max (frames)':18} heard  cycles later")
    for key, title in MEASURES:
        if key not in result:
            print(f"{title:34} not measured ({PEER} is not installed)")
            continue
        f = figures(result[key], period)
        if f is None:
            print(f"{title:34} nothing heard")
            continue
        cycles = " ".join(f"{c}:{n}" for c, n in sorted(f["cycles"].items()))
        print(f"{title:34} {frames_text(f['median'], period)} {frames_text(f['p95'], period)} "
              f"{f['min']:6.0f}..{f['max']:<6.0f}     {f['count']}/{f['count'] + f['missed']}  {cycles}")
    flood = result["flood"]
    print(f"6 flood: {flood['sent']} notes over {flood['seconds']} s")
    for name, found in flood["recorders"].items():
        print(f"  {name:10} " + ", ".join(f"{k} {found[k]}" for k in (
            "on", "off", "lost", "stray off", "doubled", "left held", "changed or extra", "off as 80", "other")))
    memory = flood["memory"]
    print("  Varnek VmRSS (MB) every 0.5 s: " + " ".join(f"{kb / 1024:.1f}" for _, kb in memory if kb))
    if "synth_after" in flood:
        print(f"  the synth's loudest sample from 2 to 3 s after the flood: {flood['synth_after']:.5f}")
    if "loop" in result:
        loop = result["loop"]
        print(f"7 loop through {loop['kind']}: " + "; ".join(
            f"after {at} s {s['messages_a_second']} messages/s, {s['cpu_percent']:.1f} % CPU, {s['rss_mb']:.1f} MB"
            for at, s in loop["at"].items()))
        for key in ("own_out", "play_thru"):
            f = figures(result["loop_" + key], period)
            if f:
                print(f"  with the loop, {key:9} median {frames_text(f['median'], period)}, p95 "
                      f"{frames_text(f['p95'], period)}, {f['count']}/{f['count'] + f['missed']} heard")
    sys.stdout.flush()


def report_ranges(results, period):
    print(f"\nRanges over {len(results)} runs, {period}-frame period at {SAMPLE_RATE} Hz:")
    for key, title in MEASURES:
        runs = [figures(r[key], period) for r in results if key in r]
        runs = [f for f in runs if f]
        if not runs:
            continue
        parts = []
        for stat in ("median", "p95"):
            low, high = min(f[stat] for f in runs), max(f[stat] for f in runs)
            parts.append(f"{stat} {low:.0f}-{high:.0f} fr ({low / period:.2f}-{high / period:.2f} cy, "
                         f"{1000 * low / SAMPLE_RATE:.2f}-{1000 * high / SAMPLE_RATE:.2f} ms)")
        same = [100 * f["cycles"][0] / f["count"] for f in runs]
        parts.append(f"most {max(f['max'] for f in runs):.0f} fr, in the same cycle {min(same):.0f}-{max(same):.0f} %")
        print(f"  {title:34} " + ", ".join(parts))
    for name in ("own_out", "play_thru"):
        found = [r["flood"]["recorders"][name] for r in results]
        bad = sum(f["lost"] + f["stray off"] + f["doubled"] + f["left held"] + f["changed or extra"] for f in found)
        print(f"  6 flood on {name:10} {sum(f['on'] for f in found)} notes, "
              f"{'all paired' if bad == 0 else f'{bad} lost, unpaired or changed'}")
    rss = [(r["flood"]["memory"][0][1], max(kb for _, kb in r["flood"]["memory"]), r["flood"]["memory"][-1][1])
           for r in results]
    print("  6 flood VmRSS before / most / after (MB): " +
          "; ".join(f"{a / 1024:.1f} / {b / 1024:.1f} / {c / 1024:.1f}" for a, b, c in rss))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("program")
    parser.add_argument("--period", type=int, default=256, help="the JACK server's period in frames")
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--notes", type=int, default=200, help="notes timed to the ports")
    parser.add_argument("--sound-notes", type=int, default=100, help="notes timed to the sound, each way")
    parser.add_argument("--flood-seconds", type=int, default=10)
    parser.add_argument("--flood-rate", type=int, default=1000, help="notes a second in the flood")
    parser.add_argument("--flood-synth", action="store_true", help="flood the built-in synth, not the Play Thru port")
    parser.add_argument("--loop", choices=("thru", "varnek"), help="then loop Varnek's output back into its input")
    args = parser.parse_args()
    results = []
    for run in range(args.runs):
        print(f"\nRun {run + 1} of {args.runs}: {args.period}-frame period at {SAMPLE_RATE} Hz")
        with Bench(args) as bench:
            result = bench.sounds()
            bench.choose_play_thru_probe()
            result.update(bench.ports())
            if args.flood_synth:
                bench.choose_synth()
            result["flood"] = bench.flood()
            if args.loop:
                result["loop"] = bench.loop(args.loop)
                if args.flood_synth:
                    bench.choose_play_thru_probe()
                result.update({"loop_" + key: timed for key, timed in bench.ports().items()})
        report_run(result, args.period)
        results.append(result)
    if args.runs > 1:
        report_ranges(results, args.period)


if __name__ == "__main__":
    main()
