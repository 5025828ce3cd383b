"""What the panel shows, read from the screen: which lamps are lit, which menu items carry a
check mark."""

import time

import bitmaps
import panel_map
from processes import wait_until

_STYLE_IMAGES = {"lit": bitmaps.load("GREEN_ON_U"), "dark": bitmaps.load("ALL_OFF_U")}
_LAMP_IMAGES = {"lit": bitmaps.load("YELLOW_ON"), "dark": bitmaps.load("YELLOW_OFF")}
_WHITE_KEY_IMAGES = {"down": bitmaps.load("WHITE_NOTE_D"), "up": bitmaps.load("WHITE_NOTE_U")}
_BLACK_KEY_IMAGES = {"down": bitmaps.load("BLACK_NOTE_D"), "up": bitmaps.load("BLACK_NOTE_U")}
# The black keys cover the upper part of the white keys; below it a white key shows whole.
_WHITE_KEY_SHOWN = slice(46, None)


def _crop(shot, rect):
    return [row[rect.x:rect.x + rect.width] for row in shot[rect.y:rect.y + rect.height]]


def panel_pixels(session):
    ox, oy = session.client_origin()
    return session.desktop.pixels(ox, oy, panel_map.PANEL_WIDTH, panel_map.PANEL_HEIGHT)


def lamps(session):
    """("lit" / "dark" / None for each style button, the same for each chord key lamp)."""
    shot = panel_pixels(session)
    styles = [bitmaps.which(_crop(shot, r), _STYLE_IMAGES) for r in panel_map.STYLE_BUTTONS]
    keys = [bitmaps.which(_crop(shot, r), _LAMP_IMAGES) for r in panel_map.KEY_LAMPS]
    return styles, keys


def keys_down(session):
    """The piano keys drawn down; raises when a key shows neither image."""
    shot = panel_pixels(session)
    down = []
    for key in range(panel_map.KEY_COUNT):
        shown = _crop(shot, panel_map.key_rect(key))
        if panel_map.is_black(key):
            state = bitmaps.which(shown, _BLACK_KEY_IMAGES)
        else:
            state = bitmaps.which(shown[_WHITE_KEY_SHOWN], {
                name: image[_WHITE_KEY_SHOWN] for name, image in _WHITE_KEY_IMAGES.items()})
        if state is None:
            raise AssertionError(f"piano key {key} shows neither image")
        if state == "down":
            down.append(key)
    return down


def lit(states):
    return [i for i, state in enumerate(states) if state == "lit"]


# A checked item shows its mark left of the text; an unchecked one shows nothing there.
_MARK_COLUMNS = range(4, 24)


def _is_dark(pixel):
    return max(pixel) < 80


def marked_rows(session, popup, rows):
    """Which of the `rows` equal rows of an open menu carry a check mark."""
    x, y, width, height = popup
    shot = session.desktop.pixels(x, y, width, height)
    row_height = height / rows
    marked = []
    for row in range(rows):
        top, bottom = int(row * row_height) + 2, int((row + 1) * row_height) - 2
        dark = sum(1 for line in shot[top:bottom] for c in _MARK_COLUMNS if _is_dark(line[c]))
        if dark >= 4:
            marked.append(row)
    return marked


def open_menu_marks(session, mnemonic, rows, path=()):
    """Opens a menu by its mnemonic, optionally a submenu down a path of row numbers, and
    returns the marked rows of the innermost one. Leaves all menus closed."""
    before = len(session.desktop.popups())
    session.menu(mnemonic)
    depth = before + 1
    for row in path:
        session.desktop.key(*(["Down"] * row), "Right")
        depth += 1
        wait_until(lambda: len(session.desktop.popups()) >= depth, 5)
    time.sleep(0.3)
    # Windows are listed bottom first, so the submenu opened last comes last.
    marks = marked_rows(session, session.desktop.popups()[-1], rows)
    # One Escape per menu; the panel has the keys back once the last one closes.
    session.desktop.key(*(["Escape"] * (len(path) + 1)))
    session.wait_menus_closed()
    return marks
