"""What a sink played, recorded by build/bench/clients/varnek_record_sound and dated by the
sound server's own clock, for tools/audio_bench.py.

On PipeWire the recorder is a node of the graph: each block it gets carries the graph's cycle
(its time on CLOCK_MONOTONIC and its position in frames). What a program renders in one cycle
reaches the sink's monitor, and so the recorder, in the graph's next cycle, so a block is dated
by the cycle before it: frame k of it sounded k frames after the start of the cycle that
rendered it. A sound card adds its own output latency to that, the same for every program.

Where the graph skipped cycles (its driver woke late, as when the machine's host stalls; the
position then jumps by more than a cycle), a note near the skip may have been delayed by it:
such a note is flagged rather than dated by a guess. Where the graph rested (a passive recorder
does not keep it running), the first block after the rest holds nothing the programs rendered.

On PulseAudio each block is dated by the server's timing information as it is read (see
bench/clients/pulse_recorder.h); a block the server lost is silence in its place."""

import array
import bisect
import math
import os
import signal
import struct
import subprocess

HEADER = struct.Struct("<QQIIII")   # cycle ns, position, duration, rate, frames, flags
DATED, HOLE = 1, 2
CHANNELS = 2
SOUND = 10 ** (-50 / 20)            # a note has begun once its level passes -50 dBFS
NS = 1e-9


def client_path(build, name):
    return os.path.join(build, "bench", "clients", name)


class Recorder:
    """varnek_record_sound running: on PipeWire's graph (passive or holding it at `latency`
    frames) or through PulseAudio; stop() returns the Recording."""

    def __init__(self, build, env, path, pipewire=True, passive=True, latency=128):
        argv = [client_path(build, "varnek_record_sound")]
        argv += ["--pipewire", "--latency", str(latency)] + (["--passive"] if passive else []) if pipewire \
            else ["--pulse"]
        self.path = path
        self.log = open(path + ".log", "w")
        self.process = subprocess.Popen(argv + [path], env=env, stdout=subprocess.PIPE, stderr=self.log,
                                        stdin=subprocess.DEVNULL, text=True)
        if self.process.stdout.readline().strip() != "recording":
            self.process.wait(5)
            raise RuntimeError("the recorder did not start: " + open(path + ".log").read())

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            self.process.wait(10)
        self.log.close()
        return Recording(self.path)


class Recording:
    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        self.samples = array.array("f")
        self.starts, self.dates, self.skipped, self.rates = [], [], [], []   # per block
        self.cycle_frames = []
        self.cycles = []                     # per block: the graph's (cycle ns, position)
        previous = None
        at = 0
        while at + HEADER.size <= len(data):
            nsec, position, duration, rate, frames, flags = HEADER.unpack_from(data, at)
            body = data[at + HEADER.size:at + HEADER.size + frames * 4 * CHANNELS]
            if len(body) < frames * 4 * CHANNELS:
                break
            at += HEADER.size + len(body)
            if flags & DATED:
                date, skipped = nsec, bool(flags & HOLE)
            else:
                date, skipped = self._rendered(previous, nsec, position, duration, rate)
            previous = (nsec, position, duration)
            self.starts.append(len(self.samples) // CHANNELS)
            self.dates.append(date * NS)
            self.skipped.append(skipped)
            self.rates.append(rate)
            self.cycle_frames.append(duration)
            self.cycles.append((nsec, position))
            self.samples.frombytes(body)
        self.frames = len(self.samples) // CHANNELS

    @staticmethod
    def _rendered(previous, nsec, position, duration, rate):
        """When the cycle that rendered a graph block began, and whether the graph skipped
        cycles just before it. While the graph runs, that cycle is the one before, the
        recorder's previous block: also where the driver woke late and its position jumped,
        as no cycle ran in between. Where the graph rested (its clock moved on far more than
        its position), the recorder joins a cycle late: the block was rendered in the first
        cycle after the rest, one cycle before it."""
        cycle_ns = duration * 1e9 / rate
        if previous is None:
            return nsec - cycle_ns, True
        last_nsec, last_position, last_duration = previous
        elapsed = nsec - last_nsec
        advanced = (position - last_position) * 1e9 / rate
        if abs(elapsed - advanced) > 1.5 * cycle_ns:
            return nsec - cycle_ns, False
        return last_nsec, position - last_position != last_duration

    # ---- Time and place --------------------------------------------------------------------

    def block_of(self, frame):
        return max(0, bisect.bisect_right(self.starts, frame) - 1)

    def time_of(self, frame):
        """When frame `frame` of the recording sounded, in monotonic seconds."""
        b = self.block_of(frame)
        return self.dates[b] + (frame - self.starts[b]) / self.rates[b]

    def frame_at(self, moment):
        """The first frame that sounded at `moment` or later."""
        b = bisect.bisect_right(self.dates, moment) - 1
        if b < 0:
            return 0
        end = self.starts[b + 1] if b + 1 < len(self.starts) else self.frames
        return min(end, self.starts[b] + max(0, math.ceil((moment - self.dates[b]) * self.rates[b])))

    def skips_between(self, start, end):
        """Blocks that follow skipped cycles and sounded between the two moments."""
        first = max(0, bisect.bisect_left(self.dates, start))
        last = bisect.bisect_right(self.dates, end)
        return sum(self.skipped[first:last])

    def between(self, start, end):
        return self.samples[self.frame_at(start) * CHANNELS:self.frame_at(end) * CHANNELS]

    # ---- What sounded ----------------------------------------------------------------------

    def onset_after(self, moment, limit=0.5):
        """(seconds from `moment` to the first sample louder than SOUND and than what sounded
        just before, whether the graph skipped cycles near it), or (None, False) when none."""
        start = self.frame_at(moment)
        rate = self.rates[self.block_of(start)] if self.rates else 48000
        before = self.samples[max(0, start - rate // 50) * CHANNELS:start * CHANNELS]
        threshold = max(SOUND, 4 * max(map(abs, before), default=0))
        end = self.frame_at(moment + limit)
        window = self.samples[start * CHANNELS:end * CHANNELS]
        for i, sample in enumerate(window):
            if abs(sample) >= threshold:
                frame = start + i // CHANNELS
                heard = self.time_of(frame)
                cycle = self.cycle_frames[self.block_of(frame)] / rate
                return heard - moment, self.skips_between(moment - cycle, heard + 2 * cycle) > 0
        return None, False

    def gaps(self, start, end, gap_seconds=0.001):
        """When runs of at least `gap_seconds` of exact silence on both channels began between
        the two moments, in monotonic seconds."""
        first, last = self.frame_at(start), self.frame_at(end)
        found = []
        run = 0
        s = self.samples
        for frame in range(first, last):
            if s[2 * frame] == 0.0 and s[2 * frame + 1] == 0.0:
                run += 1
                if run == int(gap_seconds * self.rates[self.block_of(frame)]):
                    found.append(self.time_of(frame - run + 1))
            else:
                run = 0
        return found

    def peak(self, start, end):
        return max(map(abs, self.between(start, end)), default=0)
