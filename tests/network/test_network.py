#!/usr/bin/env python3
"""The publisher and the local download network, end to end, from outside:
vrexa-publish is run as a program, its output is checked with an independent
CRC-32 (zlib), and the running network is asked over HTTP for what the engine
will request: manifests, node lists, chunk byte ranges from every node, the
geolocation, and analytics POSTs.

Run: test_network.py --publisher PATH [unittest arguments]
"""

import argparse
import http.client
import json
import selectors
import signal
import socket
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
LOCALNET = os.path.join(HERE, "..", "support", "network", "localnet.py")
sys.path.insert(0, os.path.dirname(LOCALNET))
import localnet  # noqa: E402
PUBLISHER = None

CHUNK = 4096
# A small tree with the shapes that matter: several chunks with a short last
# one, exactly one chunk, an empty file, a nested path, names that must be
# percent-encoded in a URL (a space; "?", "#", "%" and ":", which would end or
# change a path left as they are; letters outside ASCII).
FILES = {
    "setup/run.sh": bytes(range(256)) * 40 + b"tail",       # 10244 bytes: 3 chunks
    "data/one chunk.bin": os.urandom(CHUNK),
    "empty.txt": b"",
    "readme.txt": b"hello, network\n",
    "odd/a?b#c%41d:e Grüße 日本.bin": os.urandom(CHUNK + 10),
}


def write_tree(root, files):
    for path, data in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as out:
            out.write(data)


def publish(*args):
    return subprocess.run([PUBLISHER] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, timeout=120)


def publish_sample(source, output, extra=()):
    return publish("--partner", "p1", "--package", "k1", "--version", "v1", "--name", "Sample",
                   "--run", "setup/run.sh", "--chunk-size", str(CHUNK), *extra, source, output)


def snapshot(root):
    entries = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs:
            entries[os.path.relpath(os.path.join(folder, name), root)] = None
        for name in files:
            with open(os.path.join(folder, name), "rb") as data:
                entries[os.path.relpath(os.path.join(folder, name), root)] = data.read()
    return entries


def chunk_checksums(data, chunk):
    return "".join("%08x" % zlib.crc32(data[at:at + chunk]) for at in range(0, len(data), chunk))


def http_get(host, path, headers=None):
    connection = http.client.HTTPConnection(host, timeout=30)
    try:
        connection.request("GET", path, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()


def http_post(url, body):
    host = url[len("http://"):].split("/", 1)[0]
    connection = http.client.HTTPConnection(host, timeout=30)
    try:
        connection.request("POST", "/", body=body, headers={"Content-Type": "application/json"})
        return connection.getresponse().status
    finally:
        connection.close()


def processes_in_group(group):
    """The processes (no zombies) whose process group is `group`."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry, encoding="utf-8", errors="replace") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] != "Z" and int(fields[2]) == group:
            found.append(int(entry))
    return found


def processes_naming(text):
    """The processes whose command line holds `text`."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit() and localnet.owned_by_network(int(entry), text):
            found.append(int(entry))
    return found


def quote_path(path):
    from urllib.parse import quote
    return quote(path, safe="/")


class PublisherProgramTest(unittest.TestCase):
    """The program's command line, output layout and refusals."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="vrexa-publish-net-")
        self.source = os.path.join(self.root, "source")
        self.output = os.path.join(self.root, "output")
        write_tree(self.source, FILES)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def test_published_manifest_lists_every_file_with_independent_checksums(self):
        result = publish_sample(self.source, self.output, ["--node", "n1=127.0.0.1:9/packages/@2"])
        self.assertEqual(result.returncode, 0, result.stderr)

        package = ElementTree.parse(os.path.join(self.output, "manifests", "k1", "v1.xml")).getroot()
        self.assertEqual(package.tag, "package")
        self.assertEqual(package.findtext("id"), "k1")
        self.assertEqual(package.findtext("partnerId"), "p1")
        self.assertEqual(package.findtext("versionId"), "v1")
        self.assertEqual(package.findtext("run"), "setup/run.sh")
        listed = {}
        for entry in package.find("files"):
            self.assertEqual(entry.tag, "file")
            listed[entry.findtext("path")] = entry
        self.assertEqual(sorted(listed), sorted(FILES))
        for path, data in FILES.items():
            entry = listed[path]
            self.assertEqual(int(entry.findtext("chunksize")), CHUNK)
            self.assertEqual(int(entry.findtext("size")), len(data))
            self.assertEqual((entry.findtext("checksums") or "").lower(), chunk_checksums(data, CHUNK), path)
            with open(os.path.join(self.output, "packages", "p1", "k1", "v1", path), "rb") as served:
                self.assertEqual(served.read(), data, path)

        with open(os.path.join(self.output, "manifests", "k1", "current.xml"), "rb") as current, \
                open(os.path.join(self.output, "manifests", "k1", "v1.xml"), "rb") as fixed:
            self.assertEqual(current.read(), fixed.read())

        nodes = ElementTree.parse(os.path.join(self.output, "nodes", "p1.xml")).getroot()
        self.assertEqual(nodes.tag, "ArrayOfNodeInfo")
        infos = nodes.findall("NodeInfo")
        self.assertEqual(len(infos), 1)
        self.assertEqual([infos[0].findtext(key) for key in ("NodeId", "Host", "Path", "Weight")],
                         ["n1", "127.0.0.1:9", "/packages/", "2"])

    def test_refusals_exit_non_zero_with_a_message_and_write_nothing(self):
        result = publish_sample(self.source, self.output)
        self.assertEqual(result.returncode, 0, result.stderr)
        large = os.path.join(self.root, "large")
        os.makedirs(large)
        with open(os.path.join(large, "huge.bin"), "wb") as huge:
            huge.truncate(0x20000000)  # sparse: 536,870,912 one-byte chunks are too many
        ids = ["--partner", "p1", "--package", "k1", "--name", "Sample"]
        cases = [
            ("run path not among the files", ids + ["--version", "v2", "--run", "setup/missing.sh",
                                                    self.source, self.output], 1, "is not among the files"),
            ("partner id escaping the tree", ["--partner", "..", "--package", "k1", "--version", "v2", "--name",
                                              "S", self.source, self.output], 1, "outside its place"),
            ("package id with a separator", ["--partner", "p1", "--package", "a/../../x", "--version", "v2",
                                             "--name", "S", self.source, self.output], 1, "cannot be part"),
            ("file too large for its chunk size", ids + ["--version", "v2", "--chunk-size", "1", large,
                                                         self.output], 1, "more chunks"),
            ("version already published", ids + ["--version", "v1", self.source, self.output], 1,
             "already published"),
            ("unknown option", ids + ["--version", "v2", "--bogus", self.source, self.output], 2,
             "unknown option"),
            ("missing package id", ["--partner", "p1", "--version", "v2", "--name", "S", self.source,
                                    self.output], 2, "--package is required"),
        ]
        for name, args, code, message in cases:
            with self.subTest(name):
                before = snapshot(self.output)
                result = publish(*args)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(snapshot(self.output), before)

    def test_help_explains_the_command_line(self):
        result = publish("--help")
        self.assertEqual(result.returncode, 0)
        for text in ("--partner ID", "--chunk-size BYTES", "--no-current", "--policy", "SOURCE_DIR OUTPUT_DIR"):
            self.assertIn(text, result.stdout)


class NetworkFixture(unittest.TestCase):
    """Publishes the sample tree and starts a network on it for each test."""

    nodes = 2
    faulty = 0
    faults = ()
    shapes = ()
    extra_files = {}
    tree_name = "tree"
    network_name = None  # a folder of the network's own under the test's root

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="vrexa-net-test-")
        self.source = os.path.join(self.root, "source")
        self.tree = os.path.join(self.root, self.tree_name)
        write_tree(self.source, dict(FILES, **self.extra_files))
        result = publish_sample(self.source, self.tree)
        self.assertEqual(result.returncode, 0, result.stderr)
        args = [sys.executable, LOCALNET, "start", "--tree", self.tree, "--nodes", str(self.nodes),
                "--faulty", str(self.faulty), "--partner", "p1", "--publisher", PUBLISHER, "--json",
                "--watch-pid", str(os.getpid())]
        if self.network_name:
            args += ["--dir", os.path.join(self.root, self.network_name)]
        for fault in self.faults:
            args += ["--fault", json.dumps(fault)]
        for shape in self.shapes:
            args += ["--shape", json.dumps(shape)]
        started = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
        self.assertEqual(started.returncode, 0, started.stderr)
        self.network = json.loads(started.stdout)
        self.addCleanup(self.stop)

    def stop(self):
        subprocess.run([sys.executable, LOCALNET, "stop", self.network["dir"]], check=True, timeout=120)
        shutil.rmtree(self.root, ignore_errors=True)

    def chunk_url(self, node, path):
        return node["path"] + "p1/k1/v1/" + quote_path(path)


class NetworkTest(NetworkFixture):
    nodes = 3

    def test_manifest_host_serves_manifests_and_a_node_list_of_the_network(self):
        host = self.network["manifestHost"]
        status, current = http_get(host, "/manifests/k1/current.xml")
        self.assertEqual(status, 200)
        with open(os.path.join(self.tree, "manifests", "k1", "current.xml"), "rb") as published:
            self.assertEqual(current, published.read())
        self.assertEqual(http_get(host, "/manifests/k1/v1.xml")[0], 200)
        self.assertEqual(http_get(host, "/manifests/k1/v9.xml")[0], 404)

        status, body = http_get(host, "/nodes/p1.xml")
        self.assertEqual(status, 200)
        listed = [(info.findtext("Host"), info.findtext("Path"))
                  for info in ElementTree.fromstring(body).findall("NodeInfo")]
        self.assertEqual(listed, [(node["host"], node["path"]) for node in self.network["nodes"]])
        self.assertEqual(len(listed), 3)
        self.assertEqual(http_get(host, "/nodes/nobody.xml")[0], 404)

    def test_every_node_serves_every_chunk_by_byte_range(self):
        for node in self.network["nodes"]:
            for path, data in FILES.items():
                for first in range(0, len(data), CHUNK):
                    last = min(first + CHUNK, len(data)) - 1
                    with self.subTest(node=node["id"], path=path, first=first):
                        status, body = http_get(node["host"], self.chunk_url(node, path),
                                                {"Range": "bytes=%d-%d" % (first, last)})
                        self.assertEqual(status, 206)
                        self.assertEqual(body, data[first:last + 1])
                        self.assertEqual("%08x" % zlib.crc32(body),
                                         chunk_checksums(data, CHUNK)[first // CHUNK * 8:first // CHUNK * 8 + 8])

    def test_nodes_answer_unknown_files_and_unsatisfiable_ranges_with_errors(self):
        node = self.network["nodes"][0]
        self.assertEqual(http_get(node["host"], self.chunk_url(node, "missing.bin"))[0], 404)
        status, _ = http_get(node["host"], self.chunk_url(node, "readme.txt"), {"Range": "bytes=1000-2000"})
        self.assertEqual(status, 416)

    def test_geolocation_answers_the_configured_country_and_follows_changes(self):
        host, path = self.network["geolocationUrl"][len("http://"):].split("/", 1)
        status, body = http_get(host, "/" + path)
        self.assertEqual(status, 200)
        answer = json.loads(body)
        self.assertEqual(answer["country_code"], "SE")
        self.assertTrue(answer["ip"])
        subprocess.run([sys.executable, LOCALNET, "country", self.network["dir"], "NO"], check=True, timeout=60)
        self.assertEqual(json.loads(http_get(host, "/" + path)[1])["country_code"], "NO")

    def test_analytics_receiver_records_every_post_by_endpoint(self):
        documents = [(self.network["transferAnalyticsUrl"], b'{"tid":"1"}'),
                     (self.network["eventsAnalyticsUrl"], b'[{"pid":"p1"},{"pid":"p1"}]'),
                     (self.network["eventsAnalyticsUrl"], b'{"osv":"\\u00C3"}')]
        for url, body in documents:
            self.assertEqual(http_post(url, body), 200)
        with open(self.network["analyticsRecords"], encoding="utf-8") as records:
            received = [json.loads(line) for line in records]
        self.assertEqual([(r["endpoint"], r["body"].encode(), r["contentType"]) for r in received],
                         [("transfer", documents[0][1], "application/json"),
                          ("events", documents[1][1], "application/json"),
                          ("events", documents[2][1], "application/json")])

    def test_stop_ends_every_server_and_removes_the_network_folder(self):
        pids = dict(self.network["pids"])
        subprocess.run([sys.executable, LOCALNET, "stop", self.network["dir"]], check=True, timeout=120)
        self.assertFalse(os.path.exists(self.network["dir"]))
        for name, pid in pids.items():
            with self.subTest(name):
                self.assertFalse(localnet.owned_by_network(pid, self.network["dir"]))
        # The published tree is only read; the fixture's second stop finds
        # nothing left to stop and succeeds.
        self.assertTrue(os.path.isfile(os.path.join(self.tree, "manifests", "k1", "v1.xml")))

    def test_stop_ends_every_process_of_a_server_even_when_its_leader_does_not_answer(self):
        master = self.network["pids"]["nginx"]
        workers = [pid for pid in processes_in_group(master) if pid != master]
        self.assertTrue(workers)
        os.kill(master, signal.SIGSTOP)  # a master that would take no SIGTERM
        subprocess.run([sys.executable, LOCALNET, "stop", self.network["dir"]], check=True, timeout=120)
        self.assertEqual(processes_in_group(master), [])

    def test_stop_ends_the_workers_of_a_master_that_is_gone(self):
        master = self.network["pids"]["nginx"]
        workers = [pid for pid in processes_in_group(master) if pid != master]
        self.assertTrue(workers)
        os.kill(master, signal.SIGKILL)
        self.assertTrue(wait_until(lambda: not localnet.process_alive(master)))
        subprocess.run([sys.executable, LOCALNET, "stop", self.network["dir"]], check=True, timeout=120)
        self.assertEqual(processes_in_group(master), [])


class OddFolderNamesTest(NetworkFixture):
    """Folders whose names nginx's configuration would otherwise misread."""

    nodes = 1
    tree_name = "published tree; \"quoted\" $uri"
    network_name = "net work $host"

    def test_a_network_on_folders_with_spaces_quotes_and_dollars_serves_the_tree(self):
        self.assertTrue(self.network["dir"].endswith(self.network_name))
        status, body = http_get(self.network["manifestHost"], "/manifests/k1/current.xml")
        self.assertEqual(status, 200)
        with open(os.path.join(self.tree, "manifests", "k1", "current.xml"), "rb") as published:
            self.assertEqual(body, published.read())
        self.assertEqual(http_get(self.network["manifestHost"], "/nodes/p1.xml")[0], 200)
        node = self.network["nodes"][0]
        for path, data in FILES.items():
            with self.subTest(path):
                status, body = http_get(node["host"], self.chunk_url(node, path))
                self.assertEqual(status, 200)
                self.assertEqual(body, data)


class FaultyNodeTest(NetworkFixture):
    nodes = 1
    faulty = 1
    faults = ({"status": 503, "times": 1}, {"cutAfter": 100, "times": 1})

    def test_faulty_node_fails_in_order_then_serves_the_same_tree(self):
        faulty = [node for node in self.network["nodes"] if node["faulty"]]
        self.assertEqual(len(faulty), 1)
        node = faulty[0]
        data = FILES["setup/run.sh"]
        url = self.chunk_url(node, "setup/run.sh")
        rng = {"Range": "bytes=%d-%d" % (CHUNK, 2 * CHUNK - 1)}

        status, _ = http_get(node["host"], url, rng)
        self.assertEqual(status, 503)
        with self.assertRaises(http.client.IncompleteRead):
            http_get(node["host"], url, rng)
        status, body = http_get(node["host"], url, rng)
        self.assertEqual(status, 206)
        self.assertEqual(body, data[CHUNK:2 * CHUNK])

        # A percent-encoded path carries the faults too.
        spaced = self.chunk_url(node, "data/one chunk.bin")
        self.assertEqual(http_get(node["host"], spaced)[0], 503)

        status, body = http_get(self.network["manifestHost"], "/nodes/p1.xml")
        hosts = [info.findtext("Host") for info in ElementTree.fromstring(body).findall("NodeInfo")]
        self.assertIn(node["host"], hosts)


def raw_get(host, path, first, last, connection=None):
    """One ranged GET on a plain socket (a new one unless given), read to the
    end of its answer or until the peer cuts it. Returns (socket, seconds to
    the answer's first byte, body bytes received, whether the answer was
    complete)."""
    address, port = host.rsplit(":", 1)
    sock = connection or socket.create_connection((address, int(port)), timeout=60)
    started = time.monotonic()
    data = b""
    first_byte = None
    length = None
    body = 0
    try:
        sock.sendall(("GET %s HTTP/1.1\r\nHost: %s\r\nRange: bytes=%d-%d\r\n\r\n" %
                      (path, host, first, last)).encode())
        while length is None or body < length:
            piece = sock.recv(1 << 16)
            if not piece:
                break
            if first_byte is None:
                first_byte = time.monotonic() - started
            data += piece
            if length is None and b"\r\n\r\n" in data:
                head, _, rest = data.partition(b"\r\n\r\n")
                length = int([line.split(b":")[1] for line in head.split(b"\r\n")
                              if line.lower().startswith(b"content-length:")][0])
                body = len(rest)
                data = b""
            elif length is not None:
                body += len(piece)
                data = b""
    except (ConnectionResetError, BrokenPipeError):
        pass
    return sock, first_byte, body, length is not None and body == length


class ShapedNodeTest(NetworkFixture):
    """The shaping proxies measured as a tool: the rate a node gives all of
    its connections together, the delay of each request, cut answers, and a
    node taken down and back."""

    nodes = 4
    rate = 1000000
    delay = 0.2
    shapes = ({"rate": rate}, {"delay_ms": delay * 1000}, {"reset_share": 1}, {"reset_share": 0.5, "seed": 7})
    extra_files = {"big.bin": os.urandom(4 << 20)}

    def node(self, index):
        return self.network["nodes"][index]

    def test_the_rate_is_shared_by_all_connections_of_a_node(self):
        node = self.node(0)
        self.assertEqual(node["shape"], {"rate": self.rate})
        path = self.chunk_url(node, "big.bin")
        size = 1 << 20
        # One thread reads every connection, so the client never lags the
        # node: what is measured is the node's rate.
        sockets = []
        started = time.monotonic()
        for index in range(3):
            sock = socket.create_connection(("127.0.0.1", int(node["host"].rsplit(":", 1)[1])), timeout=60)
            sock.sendall(("GET %s HTTP/1.1\r\nHost: x\r\nRange: bytes=%d-%d\r\nConnection: close\r\n\r\n"
                          % (path, index * size, (index + 1) * size - 1)).encode())
            sockets.append(sock)
        received = 0
        with selectors.DefaultSelector() as selector:
            for sock in sockets:
                selector.register(sock, selectors.EVENT_READ)
            open_count = len(sockets)
            while open_count:
                for key, _ in selector.select(timeout=60):
                    piece = key.fileobj.recv(1 << 16)
                    if piece:
                        received += len(piece)
                    else:
                        selector.unregister(key.fileobj)
                        key.fileobj.close()
                        open_count -= 1
        seconds = time.monotonic() - started
        self.assertGreater(received, 3 * size)  # the bodies and their headers
        measured = received / seconds
        # Never above the rate but for the short catch-up credit; below it
        # only by what a loaded machine loses.
        self.assertLess(measured, self.rate * 1.1)
        self.assertGreater(measured, self.rate * 0.7)

    def test_every_request_pays_the_delay_and_a_new_connection_once_more(self):
        node = self.node(1)
        path = self.chunk_url(node, "readme.txt")
        sock, first, body, complete = raw_get(node["host"], path, 0, 4)
        self.assertTrue(complete)
        self.assertGreaterEqual(first, 2 * self.delay)
        self.assertLess(first, 2 * self.delay + 2.0)
        with sock:
            _, again, _, complete = raw_get(node["host"], path, 0, 4, connection=sock)
        self.assertTrue(complete)
        self.assertGreaterEqual(again, self.delay)
        self.assertLess(again, self.delay + 2.0)

    def test_a_share_of_connections_is_cut_in_the_middle_of_an_answer(self):
        size = 1 << 20
        for index, share, connections in ((2, 1.0, 5), (3, 0.5, 40), (0, 0.0, 3)):
            node = self.node(index)
            path = self.chunk_url(node, "big.bin")
            cut = 0
            for _ in range(connections):
                sock, _, body, complete = raw_get(node["host"], path, 0, (size if index else 1000) - 1)
                sock.close()
                if not complete:
                    self.assertLess(body, size)
                    cut += 1
            with self.subTest(node=node["id"], share=share):
                if share in (0.0, 1.0):
                    self.assertEqual(cut, share * connections)
                else:
                    self.assertTrue(0.25 * connections <= cut <= 0.75 * connections, cut)

    def test_a_node_taken_down_refuses_connections_until_it_is_back(self):
        node = self.node(1)
        port = int(node["host"].rsplit(":", 1)[1])
        path = self.chunk_url(node, "readme.txt")
        held, _, _, complete = raw_get(node["host"], path, 0, 4)
        self.assertTrue(complete)
        subprocess.run([sys.executable, LOCALNET, "node", self.network["dir"], node["id"], "down"], check=True,
                       timeout=60)

        def refused():
            try:
                socket.create_connection(("127.0.0.1", port), timeout=5).close()
                return False
            except ConnectionRefusedError:
                return True
        self.assertTrue(wait_until(refused))
        # The connection that was open is gone too.
        with held:
            self.assertFalse(raw_get(node["host"], path, 0, 4, connection=held)[3])
        subprocess.run([sys.executable, LOCALNET, "node", self.network["dir"], node["id"], "up"], check=True,
                       timeout=60)
        self.assertTrue(wait_until(lambda: not refused()))
        sock, _, _, complete = raw_get(node["host"], path, 0, 4)
        sock.close()
        self.assertTrue(complete)

    def test_malformed_shapes_are_refused_with_a_message(self):
        for shape, message in (([1], "JSON object"), ({"rate": -1}, "at least 0"), ({"rate": "fast"}, "at least 0"),
                               ({"reset_share": 1.5}, "between 0 and 1"), ({"speed": 1}, "not speed"),
                               ({"seed": 1.5}, "whole number")):
            with self.subTest(shape=shape):
                result = subprocess.run([sys.executable, LOCALNET, "start", "--tree", self.tree, "--nodes", "1",
                                         "--shape", json.dumps(shape)],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
                self.assertEqual(result.returncode, 1)
                self.assertIn(message, result.stderr)
        result = subprocess.run([sys.executable, LOCALNET, "start", "--tree", self.tree, "--nodes", "1",
                                 "--shape", "{}", "--shape", "{}"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
        self.assertEqual(result.returncode, 1)
        self.assertIn("2 shapes for 1 nginx nodes", result.stderr)


def wait_until(condition, seconds=60):
    """Polls condition until it holds or the deadline has passed; returns its
    last answer."""
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.02)
    return condition()


def empty_tree(test, prefix):
    """A test folder with an empty tree to serve; removed after the test."""
    root = tempfile.mkdtemp(prefix=prefix)
    test.addCleanup(shutil.rmtree, root, True)
    tree = os.path.join(root, "tree")
    os.makedirs(tree)
    return root, tree


def start_owner(test):
    """A process standing for a network's owner: it ends when its stdin is
    closed, at the latest after the test."""
    owner = subprocess.Popen([sys.executable, "-c", "import sys; sys.stdin.read()"], stdin=subprocess.PIPE)
    test.addCleanup(owner.wait)
    test.addCleanup(owner.stdin.close)
    return owner


class WatchdogTest(unittest.TestCase):
    def test_network_stops_by_itself_when_its_owner_ends(self):
        _, tree = empty_tree(self, "vrexa-net-watch-")
        owner = start_owner(self)
        started = subprocess.run([sys.executable, LOCALNET, "start", "--tree", tree, "--nodes", "1", "--json",
                                  "--watch-pid", str(owner.pid)], stdout=subprocess.PIPE, text=True, timeout=120)
        self.assertEqual(started.returncode, 0)
        network = json.loads(started.stdout)
        self.addCleanup(subprocess.run, [sys.executable, LOCALNET, "stop", network["dir"]], timeout=120)
        self.assertTrue(os.path.isdir(network["dir"]))

        owner.stdin.close()  # the owner ends
        self.assertTrue(wait_until(lambda: not os.path.exists(network["dir"])))


class StartKilledTest(unittest.TestCase):
    def test_servers_of_a_start_killed_part_way_end_with_its_owner(self):
        root, tree = empty_tree(self, "vrexa-net-killed-")
        network_dir = os.path.join(root, "net")
        # Nothing may outlive the test, whatever it finds.
        self.addCleanup(lambda: [os.kill(pid, signal.SIGKILL) for pid in processes_naming(network_dir)])
        marker = os.path.join(root, "publisher-started")
        blocker = os.path.join(root, "publisher")
        with open(blocker, "w", encoding="utf-8") as script:
            script.write("#!/bin/sh\ntouch '%s'\nexec sleep 600\n" % marker)
        os.chmod(blocker, 0o755)
        owner = start_owner(self)
        # The node list is written once the receiver runs; the start stops
        # there, waiting for the publisher, and is killed.
        start = subprocess.Popen([sys.executable, LOCALNET, "start", "--tree", tree, "--nodes", "1",
                                  "--partner", "p1", "--publisher", blocker, "--dir", network_dir,
                                  "--watch-pid", str(owner.pid), "--json"],
                                 stdout=subprocess.DEVNULL, start_new_session=True)
        self.assertTrue(wait_until(lambda: os.path.exists(marker)))
        os.killpg(start.pid, signal.SIGKILL)
        start.wait()
        self.assertTrue(processes_naming(network_dir), "the receiver should be running")

        owner.stdin.close()  # the owner ends
        owner.wait()
        self.assertTrue(wait_until(lambda: not processes_naming(network_dir)), processes_naming(network_dir))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--publisher", required=True)
    known, rest = parser.parse_known_args()
    PUBLISHER = os.path.abspath(known.publisher)
    unittest.main(argv=[sys.argv[0]] + rest)
