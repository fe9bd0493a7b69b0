#!/usr/bin/env python3
"""orbiq-update end to end, as a user runs it: a package and a skin published
for two partners, the local network serving their manifests, our own download
node serving their bytes (so a test can hold a download half-way and see
every range asked for), and the updater run as a program through the
developer overrides. The package's run file records its argv and working
directory.

Run: test_orbiq_update.py --updater PATH --publisher PATH [unittest arguments]
The window tests expect a display (run them under xvfb-run).
"""

import argparse
import http.server
import json
import os
import re
import shutil
import signal
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
LOCALNET = os.path.join(HERE, "..", "support", "network", "localnet.py")
UPDATER = None
PUBLISHER = None

PACKAGE_PARTNER = "5a0c3e1f9b2d4c6e8a1b3d50"
SKIN_PARTNER = "7e2b9d4a6c1f3e5b8d0a2c40"
PACKAGE = "1f3d5b7a9c2e4f6a8b0d1c30"
SKIN = "9d4b2f6e1a3c5e7b9d0f2a40"
CHUNK = 16384
BIG = 64 * CHUNK + 100  # 65 chunks, the last one short
DATA_FOLDER = os.path.join("Tembrik", "Orbiq Update", "LTX")
EXPECTED_STORAGE = ("Trouble writing to storage. Make sure the user account has sufficient permissions "
                    "and please try again.")
EXPECTED_NETWORK = ("Internet connection not established. Check the Internet connection and please try "
                    "again.")

# The run file: records how it was started beside itself, then fails, since
# its exit code must not matter.
RECORDING_RUN = """#!/usr/bin/python3 -S
import json, os, sys
with open(os.path.abspath(__file__) + ".json", "w") as out:
    json.dump({"argv": sys.argv[1:], "cwd": os.getcwd()}, out)
sys.exit(3)
"""

BASE_STRINGS = {
    103: PACKAGE_PARTNER,
    104: SKIN_PARTNER,
    107: SKIN,
    108: PACKAGE,
}


def write(path, data, mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data if isinstance(data, bytes) else data.encode("utf-8"))
    if mode is not None:
        os.chmod(path, mode)


def run(args, **kwargs):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120, **kwargs)


class Node(socketserver.ThreadingMixIn, http.server.HTTPServer):
    """A download node serving the published tree by byte range. It records
    every request; with hold set, requests past the first `hold` wait until
    released, so a download stays half-way for as long as a test needs."""
    daemon_threads = True

    def __init__(self, tree):
        self.tree = tree
        self.lock = threading.Condition()
        self.requests = []
        self.hold = None
        self.released = False
        super().__init__(("127.0.0.1", 0), NodeHandler)
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)
        self.thread.start()

    def handle_error(self, request, client_address):
        pass  # a client that went away mid-answer (a closed updater) is expected

    @property
    def host(self):
        return "127.0.0.1:%d" % self.server_address[1]

    def record(self, path, first, last):
        with self.lock:
            self.requests.append((path, first, last))
            held = self.hold is not None and len(self.requests) > self.hold
            self.lock.notify_all()
            while held and not self.released:
                self.lock.wait(1)

    def wait_for(self, count, seconds=60):
        deadline = time.monotonic() + seconds
        with self.lock:
            while len(self.requests) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self.lock.wait(left)
        return True

    def release(self):
        with self.lock:
            self.released = True
            self.lock.notify_all()

    def reset(self):
        with self.lock:
            self.requests = []
            self.hold = None
            self.released = False

    def stop(self):
        self.release()
        self.shutdown()
        self.server_close()


class NodeHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        full = os.path.realpath(os.path.join(self.server.tree, path.lstrip("/")))
        if not full.startswith(os.path.realpath(self.server.tree) + os.sep) or not os.path.isfile(full):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        with open(full, "rb") as source:
            data = source.read()
        first, last = 0, len(data) - 1
        wanted = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
        if wanted:
            first = int(wanted.group(1))
            last = min(int(wanted.group(2)) if wanted.group(2) else last, len(data) - 1)
        self.server.record(path, first, last)
        body = data[first:last + 1]
        self.send_response(206 if wanted else 200)
        if wanted:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, len(data)))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:
            pass


class SilentHost:
    """Accepts connections and never answers: a host behind a broken proxy,
    an overloaded service. Counts the connections it took."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(64)
        self.connections = []
        self.thread = threading.Thread(target=self.accept, daemon=True)
        self.thread.start()

    @property
    def host(self):
        return "127.0.0.1:%d" % self.socket.getsockname()[1]

    def accept(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return
            self.connections.append(connection)

    def close(self):
        self.socket.close()
        for connection in self.connections:
            connection.close()


class UpdaterFixture(unittest.TestCase):
    """A package (a recording run file and a large file) and a skin,
    published for the two partners; the local network for the manifests, the
    geolocation and analytics; our node for the bytes."""

    run_file = "bin/run.sh"
    run_content = RECORDING_RUN

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="vrexa-updater-test-")
        cls.tree = os.path.join(cls.root, "tree")
        package = os.path.join(cls.root, "package")
        skin = os.path.join(cls.root, "skin")
        cls.big = os.urandom(BIG)
        write(os.path.join(package, cls.run_file), cls.run_content, 0o755)
        write(os.path.join(package, "maps.dat"), cls.big)
        write(os.path.join(skin, "skin.txt"), "the demo skin\n")
        for partner, ident, source, extra in ((PACKAGE_PARTNER, PACKAGE, package, ["--run", cls.run_file]),
                                              (SKIN_PARTNER, SKIN, skin, [])):
            result = run([PUBLISHER, "--partner", partner, "--package", ident, "--version", "1.0", "--name",
                          "Zazid", "--chunk-size", str(CHUNK)] + extra + [source, cls.tree])
            if result.returncode != 0:
                raise RuntimeError(result.stderr)
        cls.node = Node(cls.tree)
        started = run([sys.executable, LOCALNET, "start", "--tree", cls.tree, "--nodes", "1", "--json",
                       "--watch-pid", str(os.getpid())])
        if started.returncode != 0:
            cls.node.stop()
            raise RuntimeError(started.stderr)
        cls.network = json.loads(started.stdout)
        # Both partners download from our node only.
        for partner in (PACKAGE_PARTNER, SKIN_PARTNER):
            fresh = os.path.join(cls.root, "nodes-" + partner)
            result = run([PUBLISHER, "--nodes-only", "--partner", partner, "--node",
                          "ours=%s/packages/" % cls.node.host, fresh])
            if result.returncode != 0:
                raise RuntimeError(result.stderr)
            os.replace(os.path.join(fresh, "nodes", partner + ".xml"),
                       os.path.join(cls.network["dir"], "overlay", "nodes", partner + ".xml"))

    @classmethod
    def tearDownClass(cls):
        cls.node.stop()
        run([sys.executable, LOCALNET, "stop", cls.network["dir"]])
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="run-", dir=self.root)
        self.cache = os.path.join(self.home, "cache")
        self.data = os.path.join(self.cache, DATA_FOLDER)
        self.node.reset()
        self.strings = dict(BASE_STRINGS)
        self.registry = os.path.join(self.home, "registry")

    def environment(self, ui="tty"):
        table = os.path.join(self.home, "strings.txt")
        write(table, "".join("%d=%s\n" % item for item in sorted(self.strings.items())))
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "XDG_CACHE_HOME": self.cache,
            "LANG": "C",
            "VREXA_STRING_TABLE": table,
            "VREXA_REGISTRY_ROOT": self.registry,
            "VREXA_UI": ui,
            "VREXA_MANIFEST_HOST": self.network["manifestHost"],
            "VREXA_GEOLOCATION_URL": self.network["geolocationUrl"],
            "VREXA_EVENTS_ANALYTICS_URL": self.network["eventsAnalyticsUrl"],
            "VREXA_TRANSFER_ANALYTICS_URL": self.network["transferAnalyticsUrl"],
        }
        for name in ("ASAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        if ui != "tty":
            for name in ("DISPLAY", "XAUTHORITY"):
                if name in os.environ:
                    env[name] = os.environ[name]
        return env

    def run_updater(self, args=(), ui="tty", **kwargs):
        return run([UPDATER] + list(args), env=self.environment(ui), stdin=subprocess.DEVNULL, **kwargs)

    def recorded(self):
        with open(os.path.join(self.data, self.run_file + ".json"), encoding="utf-8") as record:
            return json.load(record)

    def stored_transfers(self):
        folder = os.path.join(self.data, "transfers")
        if not os.path.isdir(folder):
            return {}
        stored = {}
        for name in os.listdir(folder):
            if name.endswith(".json"):
                with open(os.path.join(folder, name), encoding="utf-8") as entry:
                    stored[name[:-5]] = json.load(entry)
        return stored

    def analytics(self):
        records = []
        path = self.network["analyticsRecords"]
        if os.path.exists(path):
            with open(path, encoding="utf-8") as lines:
                records = [json.loads(line) for line in lines if line.strip()]
        return records

    def verified_chunks(self):
        """Indices of the chunks of the large file that are correct on disk."""
        path = os.path.join(self.data, "maps.dat")
        if not os.path.exists(path):
            return set()
        with open(path, "rb") as disk:
            data = disk.read()
        return {index for index in range((BIG + CHUNK - 1) // CHUNK)
                if zlib.crc32(data[index * CHUNK:(index + 1) * CHUNK]) ==
                zlib.crc32(self.big[index * CHUNK:(index + 1) * CHUNK])
                and len(data) >= min(BIG, (index + 1) * CHUNK)}

    def big_requests(self):
        with self.node.lock:
            return [(first, last) for path, first, last in self.node.requests if path.endswith("/maps.dat")]


class CommandLineTest(UpdaterFixture):
    def test_the_example_command_line_reaches_the_package(self):
        # The example: a launch package Maps, display name Map Update, folder
        # name MapUpdate, locale de (the only language offered), the current
        # version, no skin run file, the default mask, no install folder.
        self.strings.update({105: "Maps", 109: "Map Update", 110: "MapUpdate", 112: "de=Deutsch", 113: "de"})
        result = self.run_updater()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        record = self.recorded()
        self.assertEqual(record["argv"], ["/host", self.network["manifestHost"], "/id", SKIN_PARTNER,
                                          "/package", "Maps", "/name", "Map Update", "/folder", "MapUpdate",
                                          "/locale", "de"])
        self.assertEqual(os.path.realpath(record["cwd"]), os.path.realpath(os.path.join(self.data, "bin")))
        # The window's texts, in German.
        self.assertIn("Orbiq Update (Map Update)\n", result.stdout)
        self.assertIn("Orbiq Update (Map Update) wird gestartet", result.stdout)
        self.assertRegex(result.stdout, r"\] +\d+%  ")

        # The shortcut: a valid desktop entry that starts this updater.
        entry = os.path.join(self.data, "shortcuts", "Maps.desktop")
        with open(entry, encoding="utf-8") as desktop:
            text = desktop.read()
        self.assertIn("Exec=\"%s\"" % os.path.realpath(UPDATER), text)
        validate = shutil.which("desktop-file-validate")
        if validate:
            checked = run([validate, entry])
            self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

        # Both transfers complete, so neither is kept for resume; the skin
        # is in its folder. The data folder and its lock are the user's alone.
        self.assertEqual(self.stored_transfers(), {})
        self.assertEqual(os.stat(self.data).st_mode & 0o7777, 0o700)
        self.assertEqual(os.stat(os.path.join(self.data, ".orbiq-update.lock")).st_mode & 0o7777, 0o600)
        with open(os.path.join(self.data, "maps.dat"), "rb") as disk:
            self.assertEqual(disk.read(), self.big)
        with open(os.path.join(self.data, SKIN, "skin.txt"), encoding="utf-8") as skin:
            self.assertEqual(skin.read(), "the demo skin\n")

    def test_values_with_spaces_quotes_and_empty_ones_stay_single_arguments(self):
        self.strings.update({105: "Maps Pro", 109: 'Say "hi" /name x', 110: "",
                             114: "SOFTWARE\\Tembrik\\Maps\\InstallFolder"})
        write(os.path.join(self.registry, "SOFTWARE", "Tembrik", "Maps", "InstallFolder"),
              "REG_SZ\n/opt/Maps Pro/\n")
        result = self.run_updater(["packageVersion=5.1 beta", "log=0", "skinVersion=1.0"])
        self.assertEqual(result.returncode, 0, result.stderr)
        argv = self.recorded()["argv"]
        self.assertEqual(argv[argv.index("/package"):],
                         ["/package", "Maps Pro", "/name", 'Say "hi" /name x', "/folder", "",
                          "/version", "5.1 beta", "/log", "0",
                          "/downloadPath", "/opt/Maps Pro", "/forcePath"])
        self.assertTrue(os.path.exists(os.path.join(self.data, "shortcuts", "Maps Pro.desktop")))


class LaunchFailureTest(UpdaterFixture):
    # The system cannot start it: its interpreter does not exist.
    run_content = "#!/nonexistent/interpreter\n"

    def test_a_run_file_that_cannot_start_shows_the_message_and_exits_zero(self):
        self.strings.update({105: "Maps", 109: "Zazid", 110: "Zazid"})
        result = self.run_updater()
        self.assertEqual(result.returncode, 0)
        self.assertIn("Orbiq Update (Zazid) Error: Orbiq Update (Zazid) could not be launched. Please visit ",
                      result.stderr)
        self.assertTrue(os.path.exists(os.path.join(self.data, self.run_file)))


class StartupTest(UpdaterFixture):
    def test_a_data_folder_that_cannot_be_made_shows_the_storage_message(self):
        self.strings.update({105: "Maps", 109: "Zazid", 110: "Zazid"})
        write(self.cache, "a file where the data folder's parent should be")
        result = self.run_updater()
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, "Orbiq Update (Zazid) Error: " + EXPECTED_STORAGE + "\n")
        self.assertNotIn("%", result.stdout, "no progress: the window never opened")
        self.assertEqual(self.node.requests, [])

    def test_a_data_folder_that_is_a_link_shows_the_storage_message_and_is_not_used(self):
        self.strings.update({105: "Maps", 109: "Zazid", 110: "Zazid"})
        elsewhere = os.path.join(self.home, "elsewhere")
        os.makedirs(elsewhere)
        os.makedirs(os.path.dirname(self.data))
        os.symlink(elsewhere, self.data)
        result = self.run_updater()
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, "Orbiq Update (Zazid) Error: " + EXPECTED_STORAGE + "\n")
        self.assertEqual(os.listdir(elsewhere), [])
        self.assertEqual(self.node.requests, [])

    def test_what_stands_where_the_lock_file_belongs_is_a_storage_problem(self):
        # Only a lock another process holds means another updater; a folder
        # or a link in its place is a storage problem, and what a link points
        # at is left alone.
        self.strings.update({105: "Maps", 109: "Zazid", 110: "Zazid"})
        for name in ("a folder", "a link"):
            with self.subTest(name):
                self.setUp()
                self.strings.update({105: "Maps", 109: "Zazid", 110: "Zazid"})
                lock = os.path.join(self.data, ".orbiq-update.lock")
                elsewhere = os.path.join(self.home, "elsewhere")
                if name == "a folder":
                    os.makedirs(lock)
                else:
                    os.makedirs(self.data)
                    write(elsewhere, "keep", 0o644)
                    os.symlink(elsewhere, lock)
                result = self.run_updater()
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stderr, "Orbiq Update (Zazid) Error: " + EXPECTED_STORAGE + "\n")
                self.assertEqual(self.node.requests, [])
                if name == "a link":
                    with open(elsewhere, encoding="utf-8") as kept:
                        self.assertEqual(kept.read(), "keep")
                    self.assertEqual(os.stat(elsewhere).st_mode & 0o7777, 0o644)

    def test_a_second_updater_on_the_same_data_folder_says_the_first_is_running(self):
        import fcntl
        self.strings.update({105: "Maps", 109: "Zazid", 110: "Zazid"})
        os.makedirs(self.data)
        with open(os.path.join(self.data, ".orbiq-update.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            result = self.run_updater()
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, "Orbiq Update (Zazid): Orbiq Update (Zazid) is already running. "
                                        "Wait until it has finished, or close it and try again.\n")
        self.assertEqual(result.stdout, "")
        self.assertEqual(self.node.requests, [])
        self.assertEqual(self.stored_transfers(), {})

    def test_a_manifest_host_that_never_answers_is_reported_within_half_a_minute(self):
        # The status says whom it is waiting for meanwhile.
        self.strings.update({105: "Maps", 109: "Zazid", 110: "Zazid"})
        silent = SilentHost()
        self.addCleanup(silent.close)
        env = self.environment()
        env["VREXA_MANIFEST_HOST"] = silent.host
        started = time.monotonic()
        result = run([UPDATER], env=env, stdin=subprocess.DEVNULL)
        elapsed = time.monotonic() - started
        self.assertEqual(result.returncode, 0)
        self.assertIn("Connecting to %s\n" % silent.host, result.stdout)
        self.assertIn("Waiting for %s\n" % silent.host, result.stdout)
        self.assertIn("Orbiq Update (Zazid) Error: " + EXPECTED_NETWORK + "\n", result.stderr)
        self.assertLess(elapsed, 30, "the first-byte bound is 25 s")
        self.assertEqual(self.node.requests, [])


class CloseFixture(UpdaterFixture):
    """Closing mid-download: exit 0, the transfers suspended and kept, their
    Suspend documents sent; the next run downloads only what is missing."""

    def package_kept(self):
        """Whether the unfinished package's entry was kept for the next run."""
        return [entry["packageId"] for entry in self.stored_transfers().values()].count(PACKAGE) == 1

    def close_mid_download(self, ui, signals=(signal.SIGTERM,), env=None, timeout=120):
        self.strings.update({105: "Maps", 109: "Zazid", 110: "Zazid"})
        self.node.hold = 6
        process = subprocess.Popen([UPDATER], env=env or self.environment(ui), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            self.assertTrue(self.node.wait_for(7), "the download never began")
            for sent in signals:
                process.send_signal(sent)
            self.node.release()
            out, err = process.communicate(timeout=timeout)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
        self.assertEqual(process.returncode, 0, err)
        self.assertFalse(os.path.exists(os.path.join(self.data, self.run_file + ".json")), "never launched")
        return out, err

    def check_close_and_second_run(self, ui):
        out, err = self.close_mid_download(ui)
        # The unfinished package is kept for the next run (the small skin may
        # have completed, or not yet started, by the time of the close).
        stored = self.stored_transfers()
        package = [ident for ident, entry in stored.items() if entry["packageId"] == PACKAGE]
        self.assertEqual(len(package), 1, stored)
        suspended = {json.loads(record["body"]).get("tid") for record in self.analytics()
                     if record["endpoint"] == "transfer" and '"suspended"' in record["body"]}
        self.assertIn(package[0], suspended, "the unfinished package's Suspend document was sent")

        kept = self.verified_chunks()
        total = (BIG + CHUNK - 1) // CHUNK
        self.assertTrue(0 < len(kept) < total, kept)
        self.node.reset()
        result = self.run_updater(ui=ui)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("argv", self.recorded())
        fetched = {first // CHUNK for first, _ in self.big_requests()}
        self.assertEqual(fetched & kept, set(), "a verified chunk was downloaded again")
        self.assertEqual(fetched | kept, set(range(total)))
        return out, err


class CloseTest(CloseFixture):
    def test_interrupted_on_the_terminal(self):
        self.check_close_and_second_run("tty")

    def test_a_hang_up_or_a_quit_closes_like_a_polite_kill(self):
        for sent in (signal.SIGHUP, signal.SIGQUIT):
            with self.subTest(signal.Signals(sent).name):
                self.setUp()
                out, err = self.close_mid_download("tty", (sent,))
                self.assertEqual(err, "")
                self.assertTrue(self.package_kept(), self.stored_transfers())

    def test_a_silent_analytics_endpoint_holds_the_end_briefly_and_a_second_signal_not_at_all(self):
        silent = SilentHost()
        self.addCleanup(silent.close)
        env = self.environment()
        for name in ("VREXA_EVENTS_ANALYTICS_URL", "VREXA_TRANSFER_ANALYTICS_URL"):
            env[name] = "http://" + silent.host
        # One signal: the unsent documents are waited for 3 s, not for each
        # one's timeouts and retries (36 s before).
        out, err = self.close_mid_download("tty", env=env, timeout=30)
        self.assertEqual(err, "")
        self.assertTrue(silent.connections, "the documents were on their way to the silent endpoint")
        self.assertTrue(self.package_kept(), self.stored_transfers())
        # A second one while it waits: it ends at once. (Two different
        # signals, since a second of the same kind still pending is merged
        # into the first.)
        self.setUp()
        env["XDG_CACHE_HOME"] = self.cache
        out, err = self.close_mid_download("tty", (signal.SIGTERM, signal.SIGINT), env=env, timeout=30)
        self.assertEqual(err, "orbiq-update: closing at once\n")


class WindowTest(CloseFixture):
    """The same in the GTK window, on a display of its own."""

    def test_closed_window(self):
        self.assertIn("DISPLAY", os.environ, "run under xvfb-run")
        out, err = self.check_close_and_second_run("gtk")
        self.assertNotIn("no display", err)
        self.assertEqual(out, "", "the window, not the terminal")


def main():
    global UPDATER, PUBLISHER
    parser = argparse.ArgumentParser()
    parser.add_argument("--updater", required=True)
    parser.add_argument("--publisher", required=True)
    args, rest = parser.parse_known_args()
    UPDATER = os.path.abspath(args.updater)
    PUBLISHER = os.path.abspath(args.publisher)
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
