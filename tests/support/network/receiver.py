#!/usr/bin/env python3
"""Analytics receiver and geolocation answer of the local download network.

Listens on one port per named endpoint (for example "transfer" and "events").
Every POST is answered 200 and appended, as one JSON object per line, to the
records file:

    {"endpoint": "events", "path": "/", "contentType": "application/json",
     "body": "<the body as text>", "bodyBase64": "<only when not UTF-8>"}

GET /geo-location answers the contents of the geolocation file, read anew for
every request so that a test can change the country while the network runs.

Once every port listens, the receiver writes one line to stdout,
"READY <name>=<port> ...", and closes stdout; whoever started it reads that line
instead of guessing when the ports are open.
"""

import argparse
import base64
import json
import os
import signal
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Recorder:
    """Appends records under a lock so concurrent POSTs never interleave lines."""

    def __init__(self, path):
        self._path = path
        self._lock = threading.Lock()

    def record(self, entry):
        line = json.dumps(entry, sort_keys=True) + "\n"
        with self._lock:
            with open(self._path, "a", encoding="utf-8") as out:
                out.write(line)
                out.flush()


def make_handler(endpoint, recorder, geo_file):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def _answer(self, code, body, content_type):
            self.send_response(code)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        def do_POST(self):
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length > 0 else b""
            entry = {
                "endpoint": endpoint,
                "path": self.path,
                "contentType": self.headers.get("Content-Type", ""),
            }
            try:
                entry["body"] = body.decode("utf-8")
            except UnicodeDecodeError:
                entry["body"] = ""
                entry["bodyBase64"] = base64.b64encode(body).decode("ascii")
            recorder.record(entry)
            self._answer(200, b"", "text/plain")

        def do_GET(self):
            if self.path.split("?", 1)[0] != "/geo-location":
                self._answer(404, b"not found\n", "text/plain")
                return
            try:
                with open(geo_file, "rb") as answer:
                    body = answer.read()
            except OSError:
                self._answer(404, b"no geolocation answer\n", "text/plain")
                return
            self._answer(200, body, "application/json")

        do_HEAD = do_GET

        def log_message(self, fmt, *args):
            sys.stderr.write("%s %s\n" % (endpoint, fmt % args))

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--endpoint", action="append", required=True,
                        metavar="NAME=PORT", help="an endpoint and its port (0: any free port)")
    parser.add_argument("--records", required=True, help="file that receives one line per POST")
    parser.add_argument("--geo-file", required=True, help="JSON answer of GET /geo-location")
    parser.add_argument("--tls-cert", help="speak HTTPS with this certificate (PEM) ...")
    parser.add_argument("--tls-key", help="... and its key")
    args = parser.parse_args()

    tls = None
    if args.tls_cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.tls_cert, args.tls_key)

    recorder = Recorder(args.records)
    open(args.records, "a").close()
    servers = []
    for endpoint_text in args.endpoint:
        name, _, port = endpoint_text.partition("=")
        server = ThreadingHTTPServer(("127.0.0.1", int(port or 0)),
                                     make_handler(name, recorder, args.geo_file))
        server.daemon_threads = True
        if tls is not None:
            # Each connection's handshake happens on its own handler thread.
            server.socket = tls.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
        servers.append((name, server))

    # Block the stop signals before any thread exists, so that every thread
    # inherits the mask and only the main thread's sigwait takes them.
    stop_signals = {signal.SIGTERM, signal.SIGINT}
    signal.pthread_sigmask(signal.SIG_BLOCK, stop_signals)
    for _, server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05},
                         daemon=True).start()

    sys.stdout.write("READY " + " ".join(
        "%s=%d" % (name, server.server_address[1]) for name, server in servers) + "\n")
    sys.stdout.flush()
    # Nobody reads stdout any more; a later write must not kill the receiver.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)

    signal.sigwait(stop_signals)
    for _, server in servers:
        server.shutdown()
        server.server_close()


if __name__ == "__main__":
    main()
