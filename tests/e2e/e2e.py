#!/usr/bin/env python3
"""Runs groups of end-to-end tests against a built Varnek.

    e2e.py --program build/varnek window playing ...

Each group is a module test_<group>.py in this folder. Needs Xvfb, xdotool, xset, jackd2's
jackd, jack_lsp, jack_midi_dump and jack_rec, PulseAudio, PipeWire with pipewire-pulse and
wireplumber, dbus-daemon, pactl and parec, ImageMagick's import, python3-xlib, the openbox,
mutter, KWin, icewm, fluxbox, fvwm3, i3 and bspwm window managers, AT-SPI's bus launcher and
registry with python3-pyatspi, and the Orca screen reader with speech-dispatcher."""

import argparse
import importlib
import os
import shutil
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import e2e_config  # noqa: E402

TOOLS = ["Xvfb", "xdotool", "xset", "jackd", "jack_lsp", "jack_midi_dump", "jack_rec", "import", "openbox",
         "mutter", "kwin_x11", "icewm", "fluxbox", "fvwm3", "i3", "bspwm", "pulseaudio", "pipewire",
         "pipewire-pulse", "wireplumber", "dbus-daemon", "pactl", "parec", "/usr/libexec/at-spi-bus-launcher",
         "/usr/libexec/at-spi2-registryd", "orca", "speech-dispatcher"]


def _tests_in(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from _tests_in(item)
        else:
            yield item


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True, help="the varnek executable")
    parser.add_argument("--alsa", action="store_true",
                        help="only the tests of the ALSA half (classes named Alsa...), which need a "
                             "machine with ALSA (tools/alsa_vm); without it, all others")
    parser.add_argument("groups", nargs="+")
    args = parser.parse_args()

    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print("missing tools: " + " ".join(missing) + " (./build.sh installs them)", file=sys.stderr)
        return 1
    e2e_config.PROGRAM = os.path.abspath(args.program)

    suite = unittest.TestSuite()
    for group in args.groups:
        module = importlib.import_module("test_" + group)
        for test in _tests_in(unittest.defaultTestLoader.loadTestsFromModule(module)):
            if ("Alsa" in type(test).__name__) == args.alsa:
                suite.addTest(test)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
