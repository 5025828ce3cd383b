#!/usr/bin/python3
"""Soak test: Varnek plays the Tango backing (a tick every 75 ms) for a long while as keys are
played on it, on a virtual desktop of its own with a JACK MIDI monitor listening. Reports the
program's resident memory over time, the timing of the ticks, and whether any message was
lost, duplicated or out of order.

    tools/soak.py build/varnek [--minutes 10]

Needs what the end-to-end tests need (./build.sh test installs it). Exits 1 if a message was
lost or duplicated or the program ended early."""

import argparse
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

import panel_map  # noqa: E402
from jack import SAMPLE_RATE  # noqa: E402
from midi_log import all_notes_off, key_of  # noqa: E402
from panel_map import PLAYING_SCAN_CODES as SCAN, keycode  # noqa: E402
from varnek_session import VarnekSession  # noqa: E402

TANGO = 6
PERIOD = panel_map.STYLE_PERIODS[TANGO]
CYCLE = 64
# Tango's sounding steps: (chord tones, drums); every other step plays only the two All Notes
# Off messages.
TANGO_STEPS = {
    0: ([0, -12], [40, 41, 57]), 8: ([0, -12], [40]), 16: ([0, -12], [40]),
    24: ([0, -12], [40]), 28: ([-5], [40]), 29: ([], [40]), 30: ([], [40]), 31: ([], [40]),
    32: ([0, -12], [40, 41]), 40: ([0, -12], [40]), 48: ([0, -12], [40]),
    56: ([0, -12], [40]), 60: ([-5], [40]), 61: ([], [40]), 62: ([], [40]), 63: ([], [40]),
}


def tango_tick(step):
    chords, drums = TANGO_STEPS.get(step, ([], []))
    return ([all_notes_off(2)] + [f"91 {48 + t:02x} 3f" for t in chords]
            + [all_notes_off(10)] + [f"99 {d:02x} 5f" for d in drums])


def first_difference(got, expected):
    for index, (a, b) in enumerate(zip(got, expected)):
        if a != b:
            return index
    return min(len(got), len(expected))


def resident_kib(pid):
    """(all resident memory, the part of it that is the program's own heap and stacks) in KiB:
    the rest is shared libraries and the JACK server's shared memory."""
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            name, _, value = line.partition(":")
            fields[name] = value.split()[0] if value.split() else "0"
    return int(fields.get("VmRSS", 0)), int(fields.get("RssAnon", 0))


class Soak:
    def __init__(self, session, minutes, seed):
        self.s = session
        self.minutes = minutes
        self.random = random.Random(seed)
        self.expected_keys = []   # the key messages the taps must produce, in order
        self.memory = []

    def play_for_a_while(self):
        s = self.s
        s.route_to_monitor()
        s.desktop.focus(s.window)
        s.monitor.settle(0, quiet=0.3)
        self.start = s.monitor.count()
        s.click_control(panel_map.STYLE_BUTTONS[TANGO])
        began = time.monotonic()
        next_sample = began
        while time.monotonic() - began < self.minutes * 60:
            if s.varnek.poll() is not None:
                raise SystemExit(f"the program ended after {time.monotonic() - began:.0f} s")
            if time.monotonic() >= next_sample:
                self.sample(time.monotonic() - began)
                next_sample += 30
            self.play_some_keys()
            time.sleep(self.random.uniform(0.2, 1.0))
        self.sample(time.monotonic() - began)

    def play_some_keys(self):
        keys = self.random.sample(range(panel_map.KEY_COUNT), self.random.randint(1, 3))
        for key in keys:
            self.s.desktop.key_down(keycode(SCAN[key]))
        time.sleep(self.random.uniform(0.05, 0.6))
        for key in keys:
            self.s.desktop.key_up(keycode(SCAN[key]))
        self.expected_keys += [f"90 {29 + k:02x} 7f" for k in keys]
        self.expected_keys += [f"90 {29 + k:02x} 00" for k in keys]

    def sample(self, elapsed):
        total, own = resident_kib(self.s.varnek.pid)
        received = self.s.monitor.count()
        self.memory.append((elapsed, own))
        print(f"{elapsed:6.0f} s  resident {total / 1024:6.1f} MiB, of which heap and stacks "
              f"{own / 1024:5.1f} MiB  {received:7d} messages", flush=True)

    def report(self):
        s = self.s
        s.click_control(panel_map.STYLE_BUTTONS[0])
        messages = s.monitor.settle(self.start, quiet=1.0)
        keys = [str(m) for m in messages if key_of(m) is not None]
        backing = [m for m in messages if key_of(m) is None]
        faults = []
        if keys != self.expected_keys:
            faults.append(f"keys: {len(keys)} messages, {len(self.expected_keys)} expected; first "
                          f"difference at message {first_difference(keys, self.expected_keys)}")
        # The choice of Tango and of None each silence both channels at once.
        texts = [str(m) for m in backing]
        if texts[:2] != [all_notes_off(2), all_notes_off(10)]:
            faults.append(f"the backing did not start with its two All Notes Off: {texts[:4]}")
        body, times = texts[2:-2], []
        ticks, step, index = 0, 0, 0
        while index < len(body):
            expected = tango_tick(step)
            if body[index:index + len(expected)] != expected:
                faults.append(f"tick {ticks} (step {step}): got {body[index:index + len(expected)]}, "
                              f"expected {expected}")
                break
            times.append(backing[2 + index].seconds(SAMPLE_RATE))
            index += len(expected)
            ticks += 1
            step = (step + 1) % CYCLE
        gaps = [b - a for a, b in zip(times, times[1:])]
        late = sum(1 for g in gaps if g > 2 * PERIOD)
        span = times[-1] - times[0] if len(times) > 1 else 0
        print(f"\n{len(messages)} messages: {len(keys)} from {len(self.expected_keys) // 2} key "
              f"presses, {ticks} backing ticks in {span:.0f} s")
        if gaps:
            print(f"tick period: mean {1000 * sum(gaps) / len(gaps):.2f} ms, shortest "
                  f"{1000 * min(gaps):.1f} ms, longest {1000 * max(gaps):.1f} ms, "
                  f"{late} more than twice the period")
        first, last = self.memory[1] if len(self.memory) > 1 else self.memory[0], self.memory[-1]
        print(f"heap and stacks: {self.memory[0][1] / 1024:.1f} MiB at the start, "
              f"{first[1] / 1024:.1f} MiB after {first[0]:.0f} s, {last[1] / 1024:.1f} MiB at the end "
              f"({(last[1] - first[1]) / 1024:+.1f} MiB)")
        print("no message lost, duplicated or out of order" if not faults else
              "FAULTS:\n  " + "\n  ".join(faults))
        return not faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    with VarnekSession(os.path.abspath(args.program), screen=(1024, 768)) as session:
        soak = Soak(session, args.minutes, args.seed)
        soak.play_for_a_while()
        return 0 if soak.report() else 1


if __name__ == "__main__":
    sys.exit(main())
