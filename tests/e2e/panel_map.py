"""Where things are on the 600 x 200 panel (client pixels), and which physical keys play it.

The tests aim at the middle of a control, so that a pixel more or less in the art does not
matter."""

from dataclasses import dataclass

PANEL_WIDTH = 600
PANEL_HEIGHT = 200


@dataclass(frozen=True)
class Rect:
    x: int
    y: int
    width: int
    height: int

    @property
    def centre(self):
        return (self.x + self.width // 2, self.y + self.height // 2)

    def contains(self, x, y, margin=0):
        return (self.x - margin <= x < self.x + self.width + margin
                and self.y - margin <= y < self.y + self.height + margin)


def _button(x, y):
    return Rect(x, y, 30, 12)


POWER = _button(36, 53)
MENU = _button(537, 32)
HOT_KEY = _button(537, 53)
ABOUT = _button(537, 74)
PROGRAM_DOWN = Rect(274, 81, 6, 15)
PROGRAM_UP = Rect(319, 81, 6, 15)

# The chord key lamps, F to E; index 7 is C, offset index - 7.
KEY_LAMPS = [Rect(x, 122, 9, 4) for x in (23, 35, 45, 55, 65, 75, 87, 103, 115, 125, 135, 147)]
KEY_LAMP_C = 7

STYLE_NAMES = ["None", "Waltz", "Rock", "March", "Cha-Cha", "Rumba", "Tango", "Disco"]
# Seconds between two ticks of each style.
STYLE_PERIODS = [None, 0.800, 0.300, 0.150, 0.300, 0.150, 0.075, 0.150]
STYLE_BUTTONS = [_button(x, y) for x, y in (
    (174, 64), (158, 80), (158, 96), (174, 112),     # None, Waltz, Rock, March
    (396, 64), (412, 80), (412, 96), (396, 112),     # Cha-Cha, Rumba, Tango, Disco
)]

KNOB_CENTRE = (297, 87)
KNOB_RADIUS = 13
KNOB_DOT_SIZE = 5

# A spot of bare rack: no control lies under it.
BARE_RACK = (100, 100)

KEY_COUNT = 48
FIRST_NOTE = 29
KEY_TOP = 128
_BLACK_IN_OCTAVE = {1, 3, 5, 8, 10}


def is_black(key):
    return key % 12 in _BLACK_IN_OCTAVE


def key_rect(key):
    n, octave = key % 12, key // 12
    if is_black(key):
        return Rect(20 * (7 * octave + n // 2) + 33, KEY_TOP, 12, 45)
    return Rect(20 * (7 * octave + (n + 1) // 2 + 1), KEY_TOP, 20, 70)


def key_point(key):
    """A point that hits the key: low on a white key, below the black keys beside it."""
    rect = key_rect(key)
    if is_black(key):
        return (rect.x + rect.width // 2, rect.y + 25)
    return (rect.x + rect.width // 2, rect.y + 60)


def key_at(x, y):
    """The key that takes a click at a point of the panel: a black key where it covers a white
    one; None off the keys."""
    keys = sorted(range(KEY_COUNT), key=lambda k: not is_black(k))
    return next((k for k in keys if key_rect(k).contains(x, y)), None)


def key_for_note(note):
    return note - FIRST_NOTE


# Scan codes (set-1 make codes, which are also Linux evdev codes) of the computer keys that play
# piano keys 0 to 47, F1 up to E5. An X keycode is the evdev code + 8.
PLAYING_SCAN_CODES = [
    59, 41, 60,  2, 61,  3, 62,                               # F1 .. B1:  F1 ` F2 1 F3 2 F4
    63, 15, 64, 16, 65,                                       # C2 .. E2:  F5 Tab F6 Q F7
    17,  4, 18,  5, 19,  6, 20,                               # F2 .. B2:  W 3 E 4 R 5 T
    21,  8, 22,  9, 23,                                       # C3 .. E3:  Y 7 U 8 I
    24, 11, 25, 12, 26, 13, 27,                               # F3 .. B3:  O 0 P - [ = ]
    44, 31, 45, 32, 46,                                       # C4 .. E4:  Z S X D C
    47, 34, 48, 35, 49, 36, 50,                               # F4 .. B4:  V G B H N J M
    51, 38, 52, 39, 53,                                       # C5 .. E5:  , L . ; /
]
SCAN_F11 = 87
SCAN_F12 = 88
# Keys of the main block that play nothing: 6, 9, A, F, K, ', F8, F9.
SILENT_SCAN_CODES = [7, 10, 30, 33, 37, 40, 66, 67]


def keycode(scan_code):
    return scan_code + 8
