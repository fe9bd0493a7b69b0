#!/usr/bin/env python3
"""A small HTTP/1.1 server for tests: serves files and byte ranges, injects
faults on request, records every request, and forwards proxy requests.

It binds 127.0.0.1 only (port 0 picks a free one) and prints its port as the
first line on stdout, as JSON: {"port": 40123}.

Command line:
  --root DIR        serve the files under DIR (GET and HEAD, single byte ranges)
  --port N          port to bind (default 0: a free one)
  --port-file FILE  also write the port number into FILE once listening
  --faults FILE     faults to install at start: a JSON list of objects, each a
                    fault (below) with its "path"
  --tls-cert FILE, --tls-key FILE
                    speak HTTPS with this certificate chain and key (PEM; see
                    test_ca.py for a throwaway authority that makes them)
  --control         read commands from stdin, one JSON object per line, and
                    answer each with one JSON line on stdout; end of stdin stops
                    the server (so it never outlives the process that started it)

Without --control the server runs until SIGTERM or SIGINT.

Commands (with --control):
  {"cmd": "fault", "path": "/a", "fault": {...}}  queue a fault for the path
  {"cmd": "body", "path": "/a", "hex": "6869"}     serve these bytes at the path
  {"cmd": "clearFaults"}                            drop every fault and body
  {"cmd": "requests"}                               -> {"ok": true, "requests": [...]}
  {"cmd": "clearRequests"}
  {"cmd": "held", "gate": "g"}                      -> {"ok": true, "held": N}
  {"cmd": "release", "gate": "g"}                   open the gate for good
  {"cmd": "stop"}
Every answer has "ok"; a failed command answers {"ok": false, "error": "..."}.

A fault applies to requests whose path (without query) equals its "path".
Faults of one path are used in the order they were queued; each applies to
"times" requests (default: every request from then on) and is then dropped.
Fields, all optional, combined in this order:
  hold             a gate name: wait before sending anything until the gate is
                   released (or the server stops); "held" tells how many
                   requests wait at it now, so a test can line requests up
  delay            seconds to wait before sending anything
  reset            true: reset the connection (RST) before any response byte
  status           answer with this status code and a short text body
  redirect         answer 302 with this Location (a path or an absolute URL)
  ignoreRange      true: answer 200 with the whole resource even when a range
                   was asked for
  range            [first, last]: answer 206 with these bytes of the resource
                   and their Content-Range, whatever range was asked for
  stallAfter       send this many body bytes, then stall for "stallSeconds"
                   (default 3600, cut short when the server stops or the client
                   goes away), then send the rest
  cutAfter         send this many body bytes of the announced length, then close
  resetAfter       send this many body bytes, then reset the connection
  extraBytes       send this many bytes more than the announced Content-Length
  headers          object of extra response headers; one named like a header
                   the server sends anyway (Content-Range, ...) replaces it
  withoutHeaders   list of header names the answer leaves out; without
                   Content-Length the body ends when the connection closes

A recorded request is {"method", "target" (as on the request line), "path"
(without query), "headers": [{"name", "value"}], "bodyHex", "proxied",
"client" (the peer's address:port, so connection reuse shows)}.
"proxied" is true when the request line held an absolute URL: the server then
acts as a forward proxy and relays the request, to loopback hosts only.
"""

import argparse
import http.client
import http.server
import json
import os
import signal
import socket
import socketserver
import struct
import ssl
import sys
import threading
import urllib.parse

LOOPBACK_HOSTS = {"127.0.0.1", "localhost", "::1"}
HOP_BY_HOP = {"connection", "proxy-connection", "keep-alive", "transfer-encoding", "te",
              "trailer", "upgrade", "proxy-authorization", "proxy-authenticate"}


class Faults:
    """The faults and in-memory bodies, shared by every handler thread."""

    def __init__(self):
        self.lock = threading.Lock()
        self.faults = {}   # path -> list of [fault, remaining or None]
        self.bodies = {}   # path -> bytes
        self.gates = {}    # name -> [threading.Event, requests waiting]

    def gate(self, name):
        with self.lock:
            return self.gates.setdefault(name, [threading.Event(), 0])

    def hold(self, name, stopping):
        """Waits until the gate opens or the server stops."""
        entry = self.gate(name)
        with self.lock:
            entry[1] += 1
        try:
            while not entry[0].wait(0.05) and not stopping.is_set():
                pass
        finally:
            with self.lock:
                entry[1] -= 1

    def held(self, name):
        entry = self.gate(name)
        with self.lock:
            return entry[1]

    def release(self, name):
        self.gate(name)[0].set()

    def add(self, path, fault):
        times = fault.get("times")
        with self.lock:
            self.faults.setdefault(path, []).append([fault, times])

    def set_body(self, path, data):
        with self.lock:
            self.bodies[path] = data

    def clear(self):
        with self.lock:
            self.faults.clear()
            self.bodies.clear()

    def take(self, path):
        """The fault for one request to path, or {}; counts the use."""
        with self.lock:
            queue = self.faults.get(path)
            while queue:
                entry = queue[0]
                if entry[1] is None:
                    return entry[0]
                if entry[1] > 0:
                    entry[1] -= 1
                    fault = entry[0]
                    if entry[1] == 0:
                        queue.pop(0)
                    return fault
                queue.pop(0)
            return {}

    def body(self, path):
        with self.lock:
            return self.bodies.get(path)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = False
    # Many clients connect at once in load tests.
    request_queue_size = 128

    def __init__(self, address, root, tls=None):
        super().__init__(address, Handler)
        # With TLS, each accepted connection is wrapped and its handshake runs
        # on the handler's thread, so a client that never finishes one holds
        # up nobody else.
        self.tls = tls
        self.root = os.path.realpath(root) if root else None
        self.faults = Faults()
        self.records = []
        self.records_lock = threading.Lock()
        self.stopping = threading.Event()

    def get_request(self):
        connection, address = super().get_request()
        if self.tls is not None:
            connection = self.tls.wrap_socket(connection, server_side=True, do_handshake_on_connect=False)
        return connection, address

    def handle_error(self, request, client_address):
        # A client that drops a kept-alive connection is ordinary here (aborted
        # requests, pools forgetting connections); anything else is reported.
        if isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError, ConnectionAbortedError,
                                          ssl.SSLError)):
            return
        super().handle_error(request, client_address)

    def record(self, entry):
        with self.records_lock:
            self.records.append(entry)

    def take_records(self):
        with self.records_lock:
            return list(self.records)

    def clear_records(self):
        with self.records_lock:
            self.records.clear()


class Reset(Exception):
    """The handler reset the connection on purpose."""


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestHttpServer"
    sys_version = ""

    def log_message(self, format, *args):
        pass

    # Every method goes through one path so that each is recorded alike.
    def do_GET(self):
        self.handle_any()

    def do_HEAD(self):
        self.handle_any()

    def do_POST(self):
        self.handle_any()

    def do_PUT(self):
        self.handle_any()

    def do_DELETE(self):
        self.handle_any()

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        proxied = "://" in self.path.split("?", 1)[0]
        parsed = urllib.parse.urlsplit(self.path)
        path = parsed.path or "/"
        self.server.record({
            "method": self.command,
            "target": self.path,
            "path": path,
            "headers": [{"name": k, "value": v} for k, v in self.headers.items()],
            "bodyHex": body.hex(),
            "proxied": proxied,
            "client": "%s:%d" % self.client_address[:2],
        })
        try:
            if proxied:
                self.forward(parsed, body)
            else:
                self.respond(path)
        except Reset:
            self.close_connection = True
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError):
            self.close_connection = True

    def reset_connection(self):
        # Linger 0 turns the close into a reset.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        raise Reset()

    def wait(self, seconds):
        """Sleeps, cut short when the server stops."""
        self.server.stopping.wait(seconds)

    def respond(self, path):
        fault = self.server.faults.take(path)
        if fault.get("hold"):
            self.server.faults.hold(str(fault["hold"]), self.server.stopping)
        if fault.get("delay"):
            self.wait(float(fault["delay"]))
        if fault.get("reset"):
            self.reset_connection()
        if fault.get("status"):
            status = int(fault["status"])
            text = ("status %d\n" % status).encode()
            self.send_headers(status, [("Content-Type", "text/plain"),
                                       ("Content-Length", str(len(text)))], fault)
            if self.command != "HEAD":
                self.wfile.write(text)
            return
        if fault.get("redirect"):
            self.send_response(302)
            self.send_header("Location", fault["redirect"])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return

        data = self.resource(path)
        if data is None:
            self.send_error_text(404)
            return
        size = len(data)
        status = 200
        first, last = 0, size - 1
        range_header = self.headers.get("Range")
        if "range" in fault:
            first, last = (int(x) for x in fault["range"])
            status = 206
        elif range_header and not fault.get("ignoreRange"):
            parsed = parse_range(range_header, size)
            if parsed == "unsatisfiable":
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            if parsed is not None:
                first, last = parsed
                status = 206
        body = data[first:last + 1]
        headers = [("Content-Type", "application/octet-stream"),
                   ("Content-Length", str(len(body))),
                   ("Accept-Ranges", "bytes")]
        if status == 206:
            headers.append(("Content-Range", "bytes %d-%d/%d" % (first, last, size)))
        delimited = self.send_headers(status, headers, fault)
        if self.command == "HEAD":
            return
        self.send_body(body, fault)
        if not delimited:
            # Without a length the end of the connection ends the body.
            self.wfile.flush()
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_WR)
            except OSError:
                pass  # already shut by a cut

    def send_headers(self, status, headers, fault):
        """Sends the status line and headers as the fault changes them; true
        when the answer still announces its length."""
        extra = {name.lower(): (name, value) for name, value in fault.get("headers", {}).items()}
        dropped = {name.lower() for name in fault.get("withoutHeaders", [])}
        self.send_response(status)
        delimited = False
        for name, value in headers:
            key = name.lower()
            if key in dropped:
                continue
            if key in extra:
                name, value = extra.pop(key)
            delimited = delimited or key == "content-length"
            self.send_header(name, value)
        for key, (name, value) in extra.items():
            if key not in dropped:
                delimited = delimited or key == "content-length"
                self.send_header(name, value)
        self.end_headers()
        return delimited

    def send_body(self, body, fault):
        if "cutAfter" in fault:
            self.wfile.write(body[:int(fault["cutAfter"])])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_WR)
            return
        if "resetAfter" in fault:
            self.wfile.write(body[:int(fault["resetAfter"])])
            self.wfile.flush()
            self.reset_connection()
        if "stallAfter" in fault:
            count = int(fault["stallAfter"])
            self.wfile.write(body[:count])
            self.wfile.flush()
            self.stall(float(fault.get("stallSeconds", 3600)))
            body = body[count:]
        self.wfile.write(body)
        if fault.get("extraBytes"):
            self.wfile.write(b"X" * int(fault["extraBytes"]))
        self.wfile.flush()

    def stall(self, seconds):
        """Waits, returning early when the server stops or the client hangs up."""
        deadline = threading.Event()
        timer = threading.Timer(seconds, deadline.set)
        timer.daemon = True
        timer.start()
        try:
            while not deadline.is_set() and not self.server.stopping.is_set():
                if self.client_gone():
                    raise ConnectionResetError()
                self.server.stopping.wait(0.05)
        finally:
            timer.cancel()

    def client_gone(self):
        try:
            self.connection.setblocking(False)
            try:
                return self.connection.recv(1, socket.MSG_PEEK) == b""
            finally:
                self.connection.setblocking(True)
        except BlockingIOError:
            return False
        except OSError:
            return True

    def resource(self, path):
        data = self.server.faults.body(path)
        if data is not None:
            return data
        if self.server.root is None:
            return None
        relative = urllib.parse.unquote(path).lstrip("/")
        full = os.path.realpath(os.path.join(self.server.root, relative))
        # Never serve anything outside the root.
        if full != self.server.root and not full.startswith(self.server.root + os.sep):
            return None
        if not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()

    def send_error_text(self, status):
        text = ("status %d\n" % status).encode()
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(text)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(text)

    def forward(self, parsed, body):
        host = parsed.hostname or ""
        if parsed.scheme != "http" or host not in LOOPBACK_HOSTS:
            # Traffic never leaves this machine.
            self.send_error_text(502)
            return
        target = parsed.path or "/"
        if parsed.query:
            target += "?" + parsed.query
        headers = {k: v for k, v in self.headers.items() if k.lower() not in HOP_BY_HOP}
        upstream = http.client.HTTPConnection(host, parsed.port or 80, timeout=60)
        try:
            upstream.request(self.command, target, body=body or None, headers=headers)
            response = upstream.getresponse()
            data = response.read()
            self.send_response(response.status)
            for name, value in response.getheaders():
                if name.lower() not in HOP_BY_HOP and name.lower() != "content-length":
                    self.send_header(name, value)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(data)
        except OSError:
            self.send_error_text(502)
        finally:
            upstream.close()


def parse_range(header, size):
    """(first, last) for a single satisfiable range, "unsatisfiable", or None
    for a header this server ignores (several ranges, other units)."""
    if not header.startswith("bytes=") or "," in header:
        return None
    range_text = header[len("bytes="):].strip()
    first_text, dash, last_text = range_text.partition("-")
    if not dash:
        return None
    try:
        if first_text == "":
            suffix = int(last_text)
            if suffix == 0:
                return "unsatisfiable"
            return (max(0, size - suffix), size - 1)
        first = int(first_text)
        last = int(last_text) if last_text else None
    except ValueError:
        return None
    if last is not None and last < first:
        return None
    if first >= size:
        return "unsatisfiable"
    return (first, size - 1 if last is None else min(last, size - 1))


def run_control(server):
    """Answers commands from stdin until it ends or a stop command arrives."""
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            command = json.loads(line)
            answer = execute(server, command)
        except Exception as error:  # answer, never die, on a bad command
            answer = {"ok": False, "error": str(error)}
        sys.stdout.write(json.dumps(answer) + "\n")
        sys.stdout.flush()
        if answer.get("stopping"):
            return


def execute(server, command):
    name = command.get("cmd")
    if name == "fault":
        server.faults.add(command["path"], command.get("fault", {}))
    elif name == "body":
        server.faults.set_body(command["path"], bytes.fromhex(command.get("hex", "")))
    elif name == "clearFaults":
        server.faults.clear()
    elif name == "requests":
        return {"ok": True, "requests": server.take_records()}
    elif name == "clearRequests":
        server.clear_records()
    elif name == "held":
        return {"ok": True, "held": server.faults.held(str(command["gate"]))}
    elif name == "release":
        server.faults.release(str(command["gate"]))
    elif name == "stop":
        return {"ok": True, "stopping": True}
    else:
        raise ValueError("unknown command %r" % name)
    return {"ok": True}


def main():
    parser = argparse.ArgumentParser(description="HTTP test server with fault injection")
    parser.add_argument("--root")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--faults")
    parser.add_argument("--control", action="store_true")
    parser.add_argument("--tls-cert", help="speak HTTPS with this certificate (PEM) ...")
    parser.add_argument("--tls-key", help="... and its key")
    args = parser.parse_args()

    tls = None
    if args.tls_cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.tls_cert, args.tls_key)
    server = Server(("127.0.0.1", args.port), args.root, tls)
    if args.faults:
        with open(args.faults) as f:
            for fault in json.load(f):
                server.faults.add(fault["path"], fault)
    port = server.server_address[1]
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True)
    thread.start()
    if args.port_file:
        temporary = args.port_file + ".tmp"
        with open(temporary, "w") as f:
            f.write("%d\n" % port)
        os.replace(temporary, args.port_file)
    sys.stdout.write(json.dumps({"port": port}) + "\n")
    sys.stdout.flush()

    if args.control:
        run_control(server)
    else:
        done = threading.Event()
        signal.signal(signal.SIGTERM, lambda *_: done.set())
        signal.signal(signal.SIGINT, lambda *_: done.set())
        while not done.wait(3600):
            pass
    server.stopping.set()
    server.shutdown()
    server.server_close()


if __name__ == "__main__":
    main()
