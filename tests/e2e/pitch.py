"""The pitch of a recorded note, in plain Python: no signal-processing library is needed for
one note in a quiet recording."""

import math
import struct
import wave


def read_wav(path):
    """Samples of the first channel of a 16-bit WAV file, as floats in -1..1, and the rate."""
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise ValueError(f"{path}: {8 * w.getsampwidth()}-bit samples")
        channels, rate = w.getnchannels(), w.getframerate()
        raw = w.readframes(w.getnframes())
    values = struct.unpack(f"<{len(raw) // 2}h", raw)
    return [v / 32768.0 for v in values[::channels]], rate


def onset(samples, rate, fraction=0.1):
    """Index of the first sample louder than `fraction` of the loudest, or None in silence."""
    peak = max((abs(s) for s in samples), default=0)
    if peak < 0.01:
        return None
    return next(i for i, s in enumerate(samples) if abs(s) >= fraction * peak)


def peak_level(samples):
    return max((abs(s) for s in samples), default=0)


def _power(samples, rate, frequency):
    """Goertzel: the power of one frequency in the samples."""
    coefficient = 2 * math.cos(2 * math.pi * frequency / rate)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + coefficient * s1 - s2, s1
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2


def _downsample(samples, factor):
    # Averaging neighbours keeps the low harmonics that matter here and drops the rest.
    return [sum(samples[i:i + factor]) / factor for i in range(0, len(samples) - factor + 1, factor)]


def midi_frequency(note):
    return 440.0 * 2 ** ((note - 69) / 12)


def fundamental(samples, rate, low_note=36, high_note=96):
    """The MIDI note (a float, to a few cents) of the strongest partial, taken an octave
    lower while that octave is nearly as strong (a sound whose first partial is weak)."""
    factor = max(1, rate // 12000)
    signal = _downsample(samples, factor)
    rate = rate / factor

    def power(note):
        return _power(signal, rate, midi_frequency(note))

    best = max(range(low_note, high_note + 1), key=power)
    while best - 12 >= low_note and power(best - 12) >= 0.25 * power(best):
        best -= 12
    # Refine within half a semitone.
    fine = [best + cents / 100 for cents in range(-50, 51, 5)]
    return max(fine, key=power)


def note_pitch(path, skip=0.05, length=0.3):
    """The pitch of the note in a recording, taken just after it starts; None in silence."""
    samples, rate = read_wav(path)
    start = onset(samples, rate)
    if start is None:
        return None
    begin = start + int(skip * rate)
    return fundamental(samples[begin:begin + int(length * rate)], rate)
