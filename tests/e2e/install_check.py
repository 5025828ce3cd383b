#!/usr/bin/env python3
"""Installs a build into a scratch prefix and checks what a desktop needs from it: the program
starts from there, its .desktop file and hicolor icons are in place, and the .desktop file and
the AppStream metadata that software centres read pass their validators. Then makes the Debian
package from the same build, has lintian check it as Debian checks its own, unpacks it into a
scratch root and checks its dependencies and files, and starts the program from there.

    install_check.py --cmake cmake --cpack cpack --build-dir build"""

import argparse
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from varnek_session import VarnekSession  # noqa: E402

SOURCE_ICONS = os.path.join(HERE, "..", "..", "res", "hicolor")
ARGS = None


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    if header[:8] != b"\x89PNG\r\n\x1a\n" or header[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", header[16:24])


def desktop_entry(path):
    entry, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("["):
                group = line
            elif "=" in line and group == "[Desktop Entry]":
                key, value = line.split("=", 1)
                entry[key.strip()] = value.strip()
    return entry


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="varnek-install-")
        result = subprocess.run([ARGS.cmake, "--install", ARGS.build_dir, "--prefix", cls.prefix],
                                capture_output=True, text=True)
        cls.install_output = result.stdout + result.stderr
        cls.install_status = result.returncode

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def test_install_succeeds(self):
        self.assertEqual(self.install_status, 0, self.install_output)

    def test_desktop_file_starts_the_program_with_its_icon(self):
        path = self.path("share", "applications", "varnek.desktop")
        self.assertTrue(os.path.isfile(path), self.install_output)
        entry = desktop_entry(path)
        self.assertEqual(entry.get("Type"), "Application")
        self.assertEqual(entry.get("Name"), "Varnek")
        self.assertEqual(entry.get("Exec", "").split()[0], "varnek")
        self.assertEqual(entry.get("Icon"), "varnek")
        self.assertIn("Audio", entry.get("Categories", "").split(";"))
        self.assertEqual(entry.get("GenericName"), "MIDI Keyboard")
        self.assertIn("piano", entry.get("Keywords", "").split(";"))
        # A launcher shows that the program is starting, also while it waits for a sound server.
        self.assertEqual(entry.get("StartupNotify"), "true")

    def test_desktop_file_and_appstream_metadata_pass_their_validators(self):
        desktop = self.path("share", "applications", "varnek.desktop")
        result = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
        # The whole tree: the metadata, and the .desktop file and icon it names.
        self.assertTrue(os.listdir(self.path("share", "metainfo")), "no AppStream metadata installed")
        result = subprocess.run(["appstreamcli", "validate-tree", "--no-net", self.prefix],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_hicolor_icons_have_the_size_of_their_folder(self):
        sizes = sorted(os.listdir(SOURCE_ICONS))
        self.assertIn("48x48", sizes, "the theme's required size is missing from the sources")
        for size in sizes:
            path = self.path("share", "icons", "hicolor", size, "apps", "varnek.png")
            self.assertTrue(os.path.isfile(path), f"{path} not installed")
            width, height = png_size(path) or (0, 0)
            self.assertEqual(f"{width}x{height}", size, path)

    def test_installed_program_starts(self):
        program = self.path("bin", "varnek")
        self.assertTrue(os.access(program, os.X_OK), self.install_output)
        with VarnekSession(program, screen=(1024, 768), monitor=False) as s:
            x, y, width, height = s.frame()
            self.assertEqual(width, 600)
            icon = s.window.get_full_property(s.desktop.x.intern_atom("_NET_WM_ICON"), 0)
            self.assertTrue(icon is not None and len(icon.value) > 2, "the window has no icon")


def installed(package):
    result = subprocess.run(["dpkg-query", "-W", "-f", "${Status}", package], capture_output=True, text=True)
    return result.stdout.endswith("install ok installed")


class DebianPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="varnek-deb-")
        result = subprocess.run([ARGS.cpack, "--config", os.path.join(ARGS.build_dir, "CPackConfig.cmake"),
                                 "-G", "DEB", "-B", cls.scratch], capture_output=True, text=True)
        cls.output = result.stdout + result.stderr
        found = glob.glob(os.path.join(cls.scratch, "*.deb"))
        cls.package = found[0] if result.returncode == 0 and len(found) == 1 else None
        cls.root = os.path.join(cls.scratch, "root")
        if cls.package:
            subprocess.run(["dpkg-deb", "-x", cls.package, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.assertIsNotNone(self.package, "cpack made no single .deb\n" + self.output)

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.package, name], capture_output=True, text=True,
                              check=True).stdout.strip()

    def test_depends_on_qt_fluidsynth_rtmidi_and_a_general_midi_soundfont(self):
        self.assertEqual((self.field("Package"), self.field("Version")), ("varnek", "1.0.0.1"))
        groups = [[alternative.split()[0] for alternative in group.split("|")]
                  for group in self.field("Depends").split(",")]
        names = {name for group in groups for name in group}
        for library in ("libqt6widgets6", "libqt6gui6", "libfluidsynth3", "libasound2"):
            self.assertIn(library, names)
        self.assertTrue(any(name.startswith("librtmidi") for name in names), names)
        self.assertIn(["fluid-soundfont-gm", "timgm6mb-soundfont"], groups)
        # Real Debian packages, as this machine has them.
        self.assertEqual([g for g in groups if not any(installed(name) for name in g)], [])

    def test_lintian_finds_no_error_and_no_warning(self):
        result = subprocess.run(["lintian", "--fail-on", "error,warning", self.package], capture_output=True,
                                text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_holds_the_program_and_what_desktops_read(self):
        for path in ("usr/bin/varnek", "usr/share/applications/varnek.desktop",
                     "usr/share/icons/hicolor/48x48/apps/varnek.png", "usr/share/man/man1/varnek.1.gz"):
            self.assertTrue(os.path.isfile(os.path.join(self.root, path)), path)
        self.assertEqual(len(glob.glob(os.path.join(self.root, "usr/share/metainfo/*.metainfo.xml"))), 1)

    def test_unpacked_program_starts(self):
        with VarnekSession(os.path.join(self.root, "usr", "bin", "varnek"), screen=(1024, 768), monitor=False) as s:
            self.assertEqual(s.frame()[2], 600)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--cpack", default="cpack")
    parser.add_argument("--build-dir", required=True)
    ARGS = parser.parse_args()
    suite = unittest.TestSuite()
    for case in (InstallTest, DebianPackageTest):
        suite.addTests(unittest.defaultTestLoader.loadTestsFromTestCase(case))
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
