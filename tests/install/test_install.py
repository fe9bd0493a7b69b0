#!/usr/bin/env python3
"""The programs as a distribution installs them: `cmake --install` into a
staging folder (DESTDIR) under /usr, then the installed programs run, their
manual pages read by man with its warnings on, the completions loaded by
bash and the desktop entry resolved against what was installed. PackageTest
makes the Debian package with CPack and checks it with lintian.

Run: test_install.py --build-dir DIR --version X.Y.Z [--cmake PATH] [--desktop]
                     [--package-dir DIR]
                     [unittest arguments, e.g. InstallTest or PackageTest]
Exit 77 (skipped) when a tool a test needs is missing.
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD_DIR = None
CMAKE = "cmake"
CPACK = "cpack"
PACKAGE_DIR = None
VERSION = None
DESKTOP = False
SKIP = 77

PROGRAMS = ["vrexa", "vrexa-publish", "orbiq-update"]
# The programs with a manual page, and those whose completion the build
# writes from their option tables (vrexa-publish prints neither yet).
DOCUMENTED = ["vrexa", "vrexa-publish", "orbiq-update"]
COMPLETED = ["vrexa", "vrexa-publish"]


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=120, **kwargs)


def install_into(destdir):
    environment = dict(os.environ, DESTDIR=destdir)
    result = run([CMAKE, "--install", BUILD_DIR, "--prefix", "/usr"], env=environment)
    if result.returncode != 0:
        raise AssertionError("cmake --install failed:\n" + result.stdout + result.stderr)
    return os.path.join(destdir, "usr")


def man_warnings(page):
    """What man says about a page on stderr, and the page as text."""
    result = run(["man", "--warnings", "-E", "UTF-8", "-l", page],
                 env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0", LC_ALL="C.UTF-8"))
    # Bold and underline come as overstrikes when the output is no terminal.
    return result.returncode, result.stderr.strip(), re.sub(".\x08", "", result.stdout)


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.staging = tempfile.mkdtemp(prefix="vrexa-install-")
        cls.usr = install_into(cls.staging)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.staging, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.usr, *parts)

    def test_programs_are_installed_executable_and_run_from_where_they_land(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                installed = self.path("bin", program)
                self.assertTrue(os.path.isfile(installed), installed)
                self.assertEqual(os.stat(installed).st_mode & 0o777, 0o755)
        # Run from the staging folder with the build folder out of reach, so
        # that a program still tied to it would show.
        result = run([self.path("bin", "vrexa"), "--version"], cwd=self.staging)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), "vrexa " + VERSION)

    def test_installed_programs_name_no_build_folder_to_load_from(self):
        if shutil.which("readelf") is None:
            self.skipTest("readelf is missing")
        build = os.path.realpath(BUILD_DIR)
        for program in PROGRAMS:
            with self.subTest(program=program):
                dynamic = run(["readelf", "-d", self.path("bin", program)]).stdout
                for line in dynamic.splitlines():
                    if "RPATH" in line or "RUNPATH" in line:
                        self.assertNotIn(build, line)

    def test_every_manual_page_reads_without_warnings(self):
        if shutil.which("man") is None:
            self.skipTest("man is missing")
        for program in DOCUMENTED:
            with self.subTest(program=program):
                page = self.path("share", "man", "man1", program + ".1.gz")
                self.assertTrue(os.path.isfile(page), page)
                code, warnings, text = man_warnings(page)
                self.assertEqual(code, 0, warnings)
                self.assertEqual(warnings, "", f"{program}.1: {warnings}")
                # The page names its program, and says how it ends.
                self.assertRegex(text, r"NAME\s+" + re.escape(program) + r"\s+[-\u2010\u2212]\s")
                self.assertIn("EXIT STATUS", text)

    def test_manual_page_check_catches_a_broken_page(self):
        if shutil.which("man") is None:
            self.skipTest("man is missing")
        with tempfile.TemporaryDirectory() as folder:
            page = os.path.join(folder, "broken.1")
            with open(page, "w") as out:
                out.write(".TH BROKEN 1\n.SH NAME\nbroken \\- a page\n.XY not a request\n")
            _, warnings, _ = man_warnings(page)
            self.assertIn("XY", warnings)

    def test_bash_loads_each_completion_for_its_program(self):
        if shutil.which("bash") is None:
            self.skipTest("bash is missing")
        for program in COMPLETED:
            with self.subTest(program=program):
                script = self.path("share", "bash-completion", "completions", program)
                self.assertTrue(os.path.isfile(script), script)
                result = run(["bash", "--norc", "--noprofile", "-c",
                              'source "$1" && complete -p "$2"', "bash", script, program])
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertRegex(result.stdout, r"complete .* " + re.escape(program) + r"$")

    def test_desktop_entry_starts_the_installed_updater_with_its_own_icon(self):
        if not DESKTOP:
            self.skipTest("this build makes no desktop entry")
        entry = self.path("share", "applications", "orbiq-update.desktop")
        self.assertTrue(os.path.isfile(entry), entry)
        if shutil.which("desktop-file-validate"):
            result = run(["desktop-file-validate", entry])
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        fields = {}
        with open(entry, encoding="utf-8") as text:
            for line in text:
                key, equals, value = line.strip().partition("=")
                if equals:
                    fields.setdefault(key, value)
        self.assertEqual(fields["Exec"].split()[0], "orbiq-update")
        self.assertTrue(os.path.isfile(self.path("bin", fields["Exec"].split()[0])))
        icons = glob.glob(self.path("share", "icons", "hicolor", "*", "apps", fields["Icon"] + ".*"))
        self.assertTrue(any(icon.endswith(".png") for icon in icons), icons)
        self.assertTrue(any(icon.endswith(".svg") for icon in icons), icons)

    def test_package_documents_are_installed(self):
        documents = self.path("share", "doc", "vrexa")
        self.assertTrue(os.path.isfile(os.path.join(documents, "copyright")))
        changelog = os.path.join(documents, "changelog.gz")
        self.assertTrue(os.path.isfile(changelog))
        result = run(["gzip", "-dc", changelog])
        # The newest entry names the version that is installed.
        self.assertTrue(result.stdout.startswith(f"vrexa ({VERSION})"), result.stdout[:80])


class PackageTest(unittest.TestCase):
    """Makes the .deb as a release would and checks it with lintian."""

    def test_debian_package_has_the_programs_their_dependencies_and_no_lintian_errors(self):
        for tool in (CPACK, "dpkg-deb", "lintian"):
            if shutil.which(tool) is None:
                self.skipTest(f"{tool} is missing")
        with tempfile.TemporaryDirectory(prefix="vrexa-package-") as scratch:
            folder = PACKAGE_DIR or scratch
            for old in glob.glob(os.path.join(folder, "*.deb")):
                os.remove(old)
            result = run([CPACK, "-G", "DEB", "-B", folder, "--config",
                          os.path.join(BUILD_DIR, "CPackConfig.cmake")], cwd=BUILD_DIR)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            packages = glob.glob(os.path.join(folder, "*.deb"))
            self.assertEqual(len(packages), 1, os.listdir(folder))
            package = packages[0]
            self.assertEqual(os.path.basename(package),
                             f"vrexa_{VERSION}_{run(['dpkg', '--print-architecture']).stdout.strip()}.deb")

            control = run(["dpkg-deb", "--field", package]).stdout
            fields = dict(re.findall(r"^([A-Za-z-]+): (.*)$", control, re.MULTILINE))
            self.assertEqual(fields.get("Package"), "vrexa")
            self.assertEqual(fields.get("Version"), VERSION)
            self.assertEqual(fields.get("Section"), "net")
            # The libraries the programs load, found from the binaries.
            for library in ("libcurl4", "libgtk-3-0", "libsodium23", "libc6"):
                self.assertIn(library, fields.get("Depends", ""))

            contents = run(["dpkg-deb", "--contents", package]).stdout
            for program in PROGRAMS:
                self.assertIn(f"./usr/bin/{program}\n", contents)
            for program in DOCUMENTED:
                self.assertIn(f"./usr/share/man/man1/{program}.1.gz\n", contents)
            # Nothing of the build's own test or benchmark programs.
            self.assertNotRegex(contents, r"_tests|_bench|resgen")

            # No display limit: every occurrence, so the report below is whole.
            check = run(["lintian", "--tag-display-limit", "0", "--display-info", package])
            report = check.stdout + check.stderr
            print("\nlintian " + os.path.basename(package) + ":\n" + (report or "(clean)\n"), file=sys.stderr)
            errors = [line for line in report.splitlines() if line.startswith("E:")]
            self.assertEqual(errors, [])


def main():
    global BUILD_DIR, CMAKE, CPACK, PACKAGE_DIR, VERSION, DESKTOP
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--version", required=True)
    parser.add_argument("--desktop", action="store_true")
    parser.add_argument("--package-dir", help="where PackageTest leaves the .deb (default: nowhere)")
    options, rest = parser.parse_known_args()
    BUILD_DIR = os.path.abspath(options.build_dir)
    CMAKE = options.cmake
    CPACK = os.path.join(os.path.dirname(CMAKE), "cpack") if os.path.isabs(CMAKE) else "cpack"
    VERSION = options.version
    DESKTOP = options.desktop
    PACKAGE_DIR = os.path.abspath(options.package_dir) if options.package_dir else None
    if shutil.which(CMAKE) is None:
        print(f"test_install: {CMAKE} is missing", file=sys.stderr)
        return SKIP
    result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    if not result.wasSuccessful():
        return 1
    return SKIP if result.testsRun and len(result.skipped) == result.testsRun else 0


if __name__ == "__main__":
    sys.exit(main())
