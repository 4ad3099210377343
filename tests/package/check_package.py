#!/usr/bin/env python3
"""Checks a built Debian package of Vindral as a user meets it: unpacked into a scratch folder, its
programs run, its desktop entry, icon and manual pages are where the desktop and man look for them, and
lintian finds no error. The window's check needs an X display (run under xvfb-run).

Usage: check_package.py PACKAGE.deb [unittest arguments, such as a test's name]
"""

import gzip
import os
import pathlib
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree

PACKAGE = None  # set from the command line
SOURCE = pathlib.Path(__file__).resolve().parents[2]

# Each program with arguments that make it print its name and version and end at once: proof that it
# starts from the package with the libraries the package depends on. The window is also started for real,
# below.
QUICK_STARTS = {"vindral-cli": ["--version"], "vindral": ["--version"]}
WINDOW_CAPTION = "Zarvik"
START_TIMEOUT = 20.0
HICOLOR_APPS = "usr/share/icons/hicolor/scalable/apps"


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=120, **options)


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(\s*Vindral\s+VERSION\s+([0-9.]+)", text).group(1)


def desktop_entry(path):
    entry = {}
    for line in path.read_text().splitlines():
        if "=" in line and not line.startswith("#"):
            key, value = line.split("=", 1)
            entry[key.strip()] = value.strip()
    return entry


class UnpackedPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="vindral-package-"))
        cls.root = cls.scratch / "root"
        subprocess.run(["dpkg-deb", "-x", PACKAGE, str(cls.root)], check=True)
        cls.bin = cls.root / "usr/bin"

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def field(self, name):
        return run(["dpkg-deb", "-f", PACKAGE, name]).stdout.strip()

    def programs(self):
        return sorted(p.name for p in self.bin.iterdir())

    def test_control_fields_carry_the_project_version_and_computed_dependencies(self):
        version = project_version()
        self.assertEqual(self.field("Package"), "vindral")
        self.assertEqual(self.field("Version"), version)
        self.assertEqual(self.field("Section"), "net")
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^<>@]+@[^<>@]+\.[^<>@]+>$")
        depends = [d.strip() for d in self.field("Depends").split(",")]
        # Computed from the linked libraries: versioned, and Qt's widgets among them.
        self.assertTrue(any(re.fullmatch(r"libc6 \(>= [0-9.]+\)", d) for d in depends), depends)
        self.assertTrue(any(d.startswith("libqt6widgets6 (>=") for d in depends), depends)
        # Qt's SVG support is a plug-in that no linked library names; nor is the certificate store that
        # https targets are verified against, while TLS itself comes with the linked libraries.
        names = [d.split(" ")[0] for d in depends]
        self.assertIn("libqt6svg6", names)
        self.assertIn("ca-certificates", names)
        self.assertIn("libssl3", names)
        # The newest changelog entry is the packaged version.
        changelog = self.root / "usr/share/doc/vindral/changelog.gz"
        first = gzip.decompress(changelog.read_bytes()).decode().splitlines()[0]
        self.assertRegex(first, r"^vindral \(" + re.escape(version) + r"\) ")
        self.assertTrue((self.root / "usr/share/doc/vindral/copyright").is_file())

    def test_programs_are_stripped_executables(self):
        self.assertEqual(self.programs(), ["vindral", "vindral-cli"])
        for name in self.programs():
            with self.subTest(program=name):
                kind = run(["file", "-b", str(self.bin / name)]).stdout
                self.assertIn("ELF 64-bit", kind)
                self.assertRegex(kind, r"\bstripped")
                self.assertNotIn("not stripped", kind)
                self.assertTrue(os.access(self.bin / name, os.X_OK))

    def test_programs_start_and_end_at_once(self):
        for name, arguments in QUICK_STARTS.items():
            with self.subTest(program=name):
                result = run([str(self.bin / name)] + arguments, cwd=self.scratch)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, name + " " + project_version() + "\n")
                self.assertEqual(result.stderr, "")

    def test_desktop_entry_validates_and_points_at_the_package_files(self):
        path = self.root / "usr/share/applications/vindral.desktop"
        result = run(["desktop-file-validate", str(path)])
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
        entry = desktop_entry(path)
        program = self.bin / entry["Exec"].split()[0]
        self.assertTrue(os.access(program, os.X_OK), program)
        # Icon=name resolves through the hicolor theme to the SVG the package installs.
        self.assertNotIn("/", entry["Icon"])
        icon = self.root / HICOLOR_APPS / (entry["Icon"] + ".svg")
        self.assertTrue(icon.is_file(), icon)
        self.assertEqual(ElementTree.parse(icon).getroot().tag, "{http://www.w3.org/2000/svg}svg")

    def test_manual_pages_render_without_warnings_and_name_every_option(self):
        help_text = run([str(self.bin / "vindral-cli"), "--help"]).stdout
        options = {"vindral": set(), "vindral-cli": set(re.findall(r"(--[a-z][a-z-]*)", help_text))}
        self.assertIn("--settings", options["vindral-cli"])
        for name in self.programs():
            page = self.root / "usr/share/man/man1" / (name + ".1.gz")
            for locale in ("C.UTF-8", "C"):
                with self.subTest(page=name, locale=locale):
                    env = dict(os.environ, LC_ALL=locale, MANWIDTH="80", MAN_KEEP_FORMATTING="")
                    shown = run(["man", "--warnings", "-l", str(page)], env=env)
                    self.assertEqual(shown.returncode, 0, shown.stderr)
                    self.assertEqual(shown.stderr, "")
                    self.assertIn("Vindral " + project_version(), shown.stdout)
                    flat = re.sub(r"[\u2010\u2011]", "-", re.sub(r"-\n\s*", "-", shown.stdout))
                    for option in sorted(options[name]):
                        self.assertIn(option, flat, "undocumented option")
            with self.subTest(page=name, whatis=True):
                # What apropos and whatis read from the NAME section.
                whatis = run(["lexgrog", str(page)]).stdout
                self.assertRegex(whatis, r': "' + re.escape(name) + r" - \S")

    def test_lintian_reports_no_errors(self):
        result = run(["lintian", "--fail-on", "error", PACKAGE])
        errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_settings_of_an_installed_copy_go_to_the_users_folder(self):
        # In a mount namespace of its own (as root, or as a user mapped to root): the user's home is a
        # scratch folder, and the program lies either in a folder it cannot write to or in /usr/bin.
        home = pwd.getpwuid(0).pw_dir
        cases = {
            "read-only program folder": (
                'mount --bind -o ro "$1" "$1" && exec "$1/vindral-cli" --pause-max 0'),
            "the system's program folder": (
                'mount --bind "$1" /usr/bin && exec /usr/bin/vindral-cli --pause-max 0'),
        }
        for name, script in cases.items():
            with self.subTest(case=name):
                user = pathlib.Path(tempfile.mkdtemp(dir=self.scratch))
                result = run(["unshare", "--map-root-user", "--mount", "sh", "-c",
                              f'mount --bind "$2" "{home}" && ' + script, "sh", str(self.bin),
                              str(user)], cwd="/")
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertTrue((user / ".local/share/vindral/qelto.ini").is_file(),
                                sorted(str(p) for p in user.rglob("*")))
                self.assertEqual(self.programs(), ["vindral", "vindral-cli"],
                                 "nothing is written beside an installed program")

    def test_window_shows_with_the_icon_and_the_desktop_entrys_class(self):
        if not os.environ.get("DISPLAY"):
            self.skipTest("no X display; run under xvfb-run")
        env = dict(os.environ, QT_QPA_PLATFORM="xcb")
        window = subprocess.Popen([str(self.bin / "vindral")], cwd=self.scratch, env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            window_id = self.wait_for_window(window)
            icon = run(["xprop", "-id", window_id, "_NET_WM_ICON"]).stdout
            self.assertRegex(icon, r"Icon \(\d+ x \d+\)", "the window has no icon")
            wm_class = run(["xprop", "-id", window_id, "WM_CLASS"]).stdout
            entry = desktop_entry(self.root / "usr/share/applications/vindral.desktop")
            self.assertIn(f'"vindral", "{entry["StartupWMClass"]}"', wm_class)
        finally:
            window.send_signal(signal.SIGTERM)
            try:
                window.wait(timeout=10)
            except subprocess.TimeoutExpired:
                window.kill()
                window.wait()
            window.stdout.close()

    def wait_for_window(self, window):
        deadline = time.monotonic() + START_TIMEOUT
        while time.monotonic() < deadline:
            if window.poll() is not None:
                self.fail("the window ended early: " + window.stdout.read())
            tree = run(["xwininfo", "-root", "-tree"]).stdout
            match = re.search(r"^\s*(0x[0-9a-f]+) \"" + WINDOW_CAPTION + '"', tree, re.M)
            if match and "IsViewable" in run(["xwininfo", "-id", match.group(1)]).stdout:
                return match.group(1)
            time.sleep(0.05)
        self.fail(f"no window captioned {WINDOW_CAPTION} appeared within {START_TIMEOUT} s")


if __name__ == "__main__":
    if len(sys.argv) < 2 or not sys.argv[1].endswith(".deb"):
        sys.exit(__doc__.strip())
    PACKAGE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
