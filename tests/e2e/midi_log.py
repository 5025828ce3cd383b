"""What the JACK MIDI monitor (jack_midi_dump -a) heard, as timed messages.

Its lines read "  2410240: c0 00" or "2571008: 90 3c 7f note on (channel 0): ...": the frame
of the JACK server's clock at which the message arrived, the message bytes in hex, then an
optional description."""

import re
import time
from dataclasses import dataclass

from processes import wait_until

_LINE = re.compile(r"^\s*(\d+):((?: [0-9a-fA-F]{2})+)")


@dataclass(frozen=True)
class Message:
    frame: int
    data: tuple

    def seconds(self, sample_rate):
        return self.frame / sample_rate

    @property
    def status(self):
        return self.data[0]

    def __str__(self):
        return " ".join(f"{b:02x}" for b in self.data)


def parse(text):
    messages = []
    for line in text.splitlines():
        match = _LINE.match(line)
        if match:
            data = tuple(int(b, 16) for b in match.group(2).split())
            messages.append(Message(int(match.group(1)), data))
    return messages


def hex_list(messages):
    """Messages as "c0 00" strings, the form the tests compare with."""
    return [str(m) for m in messages]


def program_change(channel, program):
    return f"{0xC0 + channel - 1:02x} {program:02x}"


def note(channel, number, velocity):
    return f"{0x90 + channel - 1:02x} {number:02x} {velocity:02x}"


def all_notes_off(channel):
    return f"{0xB0 + channel - 1:02x} 7b 00"


FIRST_KEY_NOTE = 29
LAST_KEY_NOTE = 76
KEY_VELOCITY = 0x7F
DRUM_VELOCITY = 0x5F
# The six lowest keys play these drums while the percussion map is chosen.
LOW_KEY_DRUMS = range(77, 83)


def key_of(message):
    """The piano key a note message of the keys belongs to, whatever its channel, or None for
    other messages (the backing's chord tones and drums among them)."""
    if len(message.data) != 3 or message.data[2] not in (0, KEY_VELOCITY):
        return None
    number = message.data[1]
    if message.status == 0x90 and FIRST_KEY_NOTE <= number <= LAST_KEY_NOTE:
        return number - FIRST_KEY_NOTE
    if message.status == 0x99:
        if number in LOW_KEY_DRUMS:
            return number - LOW_KEY_DRUMS.start
        if 35 <= number <= LAST_KEY_NOTE:
            return number - FIRST_KEY_NOTE
    return None


def key_faults(messages):
    """Where the keys' notes do not pair up on their (channel, note): a note struck again before
    its release, a release of a note that does not sound, which is also what a note-off sent to
    another channel than its note-on looks like. Returns (faults, sounding): the faults, and the
    piano keys of the notes still sounding at the end, by (channel, note)."""
    sounding, faults = {}, []
    for index, message in enumerate(messages):
        key = key_of(message)
        if key is None:
            continue
        where = (message.status & 0x0F) + 1, message.data[1]
        down = message.data[2] != 0
        if down and where in sounding:
            faults.append(f"message {index}: channel {where[0]} note {where[1]} struck again while "
                          f"it sounds ({message})")
        elif not down and where not in sounding:
            faults.append(f"message {index}: channel {where[0]} note {where[1]} released while "
                          f"silent ({message})")
        if down:
            sounding[where] = key
        else:
            sounding.pop(where, None)
    return faults, sounding


class Heard:
    """What a monitor has heard so far, read while it grows; a monitor gives messages()."""

    def count(self):
        return len(self.messages())

    def since(self, start):
        return self.messages()[start:]

    def wait_for(self, start, count, timeout=5):
        """The messages after the first `start`, once there are at least `count` of them."""
        found = wait_until(lambda: len(self.since(start)) >= count and self.since(start), timeout)
        return found or self.since(start)

    def settle(self, start, quiet=0.6, timeout=10, expect=0):
        """The messages after the first `start` once at least `expect` of them have come and
        then none for `quiet` seconds."""
        if expect:
            self.wait_for(start, expect, timeout)
        seen, last_change = -1, None
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            now = len(self.since(start))
            if now != seen:
                seen, last_change = now, time.monotonic()
            elif time.monotonic() - last_change >= quiet:
                break
            time.sleep(0.05)
        return self.since(start)
