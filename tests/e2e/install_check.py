#!/usr/bin/env python3
"""Installs a build into a scratch prefix and checks what a desktop needs from it: the program
starts from there, its .desktop file and hicolor icons are in place, and the .desktop file and
the AppStream metadata that software centres read pass their validators. Then builds the Debian
source and binary packages with dpkg-buildpackage from the sources, has lintian check them as
Debian checks its own, unpacks the package into a scratch root and checks its dependencies and
files, and starts the program from there.

    install_check.py --cmake cmake --source-dir . --build-dir build"""

import argparse
import glob
import os
import shutil
import struct
import subprocess
import sys
import tarfile
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
    """The Debian source package in debian/, built as Debian's builders build it: from the
    upstream tarball and debian/, with dpkg-buildpackage."""

    @classmethod
    def setUpClass(cls):
        # A folder of its own in the build folder, the same each time, where ccache finds the
        # objects of the last package build.
        cls.scratch = os.path.join(os.path.abspath(ARGS.build_dir), "debian-package")
        shutil.rmtree(cls.scratch, ignore_errors=True)
        os.makedirs(cls.scratch)
        version = subprocess.run(["dpkg-parsechangelog", "-S", "Version"], cwd=ARGS.source_dir,
                                 capture_output=True, text=True, check=True).stdout.strip()
        cls.upstream_version = version.rsplit("-", 1)[0]
        tree = cls.tree = os.path.join(cls.scratch, f"varnek-{cls.upstream_version}")
        cls.source_tree(tree)
        env = dict(os.environ)
        env["DEB_BUILD_OPTIONS"] = f"parallel={os.cpu_count()}"
        if os.path.isdir("/usr/lib/ccache"):
            env["PATH"] = "/usr/lib/ccache:" + env["PATH"]
        result = subprocess.run(["dpkg-buildpackage", "-us", "-uc"], cwd=tree, env=env, capture_output=True,
                                text=True)
        cls.output = result.stdout + result.stderr
        cls.package = os.path.join(cls.scratch, f"varnek_{version}_amd64.deb")
        cls.changes = os.path.join(cls.scratch, f"varnek_{version}_amd64.changes")
        cls.built = result.returncode == 0 and os.path.isfile(cls.package)
        cls.root = os.path.join(cls.scratch, "root")
        if cls.built:
            subprocess.run(["dpkg-deb", "-x", cls.package, cls.root], check=True)

    @classmethod
    def source_tree(cls, tree):
        """The files git keeps, as the working tree has them: the upstream tarball of all but
        debian/, and the tree to build with debian/ in it."""
        listed = subprocess.run(["git", "ls-files", "-z"], cwd=ARGS.source_dir, capture_output=True, check=True)
        files = [name for name in listed.stdout.decode().split("\0")
                 if name and os.path.isfile(os.path.join(ARGS.source_dir, name))]
        orig = os.path.join(cls.scratch, f"varnek_{cls.upstream_version}.orig.tar.gz")
        with tarfile.open(orig, "w:gz") as tar:
            for name in files:
                if not name.startswith("debian/"):
                    tar.add(os.path.join(ARGS.source_dir, name), os.path.join(os.path.basename(tree), name))
        for name in files:
            os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
            shutil.copy2(os.path.join(ARGS.source_dir, name), os.path.join(tree, name))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.assertTrue(self.built, "dpkg-buildpackage made no package\n" + self.output[-6000:])

    def field(self, name, package=None):
        return subprocess.run(["dpkg-deb", "-f", package or self.package, name], capture_output=True, text=True,
                              check=True).stdout.strip()

    def test_depends_on_qt_fluidsynth_rtmidi_pipewire_and_a_general_midi_soundfont(self):
        self.assertEqual((self.field("Package"), self.field("Version")), ("varnek", "1.0.0.1-1"))
        groups = [[alternative.split()[0] for alternative in group.split("|")]
                  for group in self.field("Depends").split(",")]
        names = {name for group in groups for name in group}
        # The native PipeWire client needs the library's protocol modules, which the library
        # itself does not pull in.
        for library in ("libqt6widgets6", "libqt6gui6", "libfluidsynth3", "libasound2", "libpipewire-0.3-0",
                        "libpipewire-0.3-modules"):
            self.assertIn(library, names)
        self.assertTrue(any(name.startswith("librtmidi") for name in names), names)
        self.assertIn(["fluid-soundfont-gm", "timgm6mb-soundfont"], groups)
        # Real Debian packages, as this machine has them.
        self.assertEqual([g for g in groups if not any(installed(name) for name in g)], [])

    def test_lintian_finds_no_error_and_no_warning_in_the_source_and_the_packages(self):
        result = subprocess.run(["lintian", "--fail-on", "error,warning", "--info", self.changes], capture_output=True,
                                text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_compiled_with_the_flags_of_dpkg_buildflags_and_its_debug_symbols_apart(self):
        env = dict(os.environ, DEB_BUILD_MAINT_OPTIONS="hardening=+all")
        flags = [flag for kind in ("CPPFLAGS", "CXXFLAGS")
                 for flag in subprocess.run(["dpkg-buildflags", "--get", kind], cwd=self.tree, env=env,
                                            capture_output=True, text=True, check=True).stdout.split()]
        compiled = [line for line in self.output.splitlines() if "app/main.cpp" in line and " -c " in line]
        self.assertTrue(compiled, "the build log shows no compiler command")
        self.assertEqual([flag for flag in flags if flag not in compiled[0].split()], [], compiled[0])
        debug = os.path.join(self.scratch, f"varnek-dbgsym_{self.field('Version')}_amd64.deb")
        self.assertEqual(self.field("Package", debug), "varnek-dbgsym")

    def test_holds_the_program_and_what_desktops_read(self):
        for path in ("usr/bin/varnek", "usr/share/applications/varnek.desktop",
                     "usr/share/icons/hicolor/48x48/apps/varnek.png", "usr/share/man/man1/varnek.1.gz",
                     "usr/share/doc/varnek/copyright", "usr/share/doc/varnek/changelog.Debian.gz"):
            self.assertTrue(os.path.isfile(os.path.join(self.root, path)), path)
        self.assertEqual(len(glob.glob(os.path.join(self.root, "usr/share/metainfo/*.metainfo.xml"))), 1)

    def test_unpacked_program_starts(self):
        with VarnekSession(os.path.join(self.root, "usr", "bin", "varnek"), screen=(1024, 768), monitor=False) as s:
            self.assertEqual(s.frame()[2], 600)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--build-dir", required=True)
    ARGS = parser.parse_args()
    suite = unittest.TestSuite()
    for case in (InstallTest, DebianPackageTest):
        suite.addTests(unittest.defaultTestLoader.loadTestsFromTestCase(case))
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
