#!/usr/bin/env python3
"""A shaping proxy in front of one download node: makes a loopback node behave
like one far away on a link of its own.

    shaper.py --upstream-port PORT --network-dir DIR [--rate B] [--delay-ms N]
              [--reset-share F] [--seed S]

Prints "READY <port>" once it listens on 127.0.0.1:<port> (a free port) and
forwards every connection to 127.0.0.1:<upstream port>, byte for byte (TLS
passes through untouched), with:

  rate         bytes per second of the node's answers, shared by all of its
               connections at once, as an uplink is (0: unlimited);
  delay_ms     paid by every request before it reaches the node, and once more
               by every new connection (its handshake), as a round trip is;
  reset_share  the share of connections that are cut with a TCP reset in the
               middle of their first answer (plain HTTP: somewhere in its body;
               TLS: somewhere in the first 64 KiB).

With --record FILE (plain HTTP only), one JSON line per answer: when its
request arrived, when its first and last bytes left, its body bytes, its
connection and whether it was cut, all times in seconds since the epoch.

SIGUSR1 takes the node down: open connections are reset and new ones are
refused. SIGUSR2 brings it back on the same port. SIGTERM ends the proxy.
"""

import argparse
import asyncio
import json
import random
import re
import signal
import socket
import struct
import sys
import time

PIECE = 16 * 1024
TLS_CUT_LIMIT = 64 * 1024
HEADER_LIMIT = 64 * 1024
CONTENT_LENGTH = re.compile(rb"\r\ncontent-length:[ \t]*(\d+)", re.IGNORECASE)


class Uplink:
    """The node's outgoing rate, shared by every connection: each piece takes
    the next free slot on one virtual clock, so connections share the rate in
    the order they ask for it, and the sum never exceeds it."""

    # How far the clock may trail real time: wake-ups come late, and without
    # this credit every late one would be lost from the rate. It also bounds
    # the burst a node that was idle may send.
    CATCH_UP_SECONDS = 0.05

    def __init__(self, rate):
        self.rate = float(rate)
        self.free_at = 0.0

    async def send(self, size):
        if self.rate <= 0:
            return
        now = time.monotonic()
        start = max(self.free_at, now - self.CATCH_UP_SECONDS)
        self.free_at = start + size / self.rate
        # The piece leaves once its whole slot has passed.
        wait = self.free_at - now
        if wait > 0:
            await asyncio.sleep(wait)


def reset(writer):
    """Closes a connection with a TCP reset rather than an orderly end."""
    sock = writer.get_extra_info("socket")
    if sock is not None:
        try:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
    writer.transport.abort()


class CutPoint:
    """Where a connection chosen for a reset is cut: inside the body of its
    first answer once its headers tell the length, else within the first
    bytes of the answer."""

    def __init__(self, rng, tls):
        self.rng = rng
        self.tls = tls
        self.head = b""
        self.at = rng.randint(1, TLS_CUT_LIMIT) if tls else None

    def allowed(self, sent, piece):
        """How many bytes of `piece` may still go, after `sent` bytes of the answer."""
        if self.at is None:
            self.head += piece[:HEADER_LIMIT - len(self.head)]
            end = self.head.find(b"\r\n\r\n")
            if end < 0 and len(self.head) < HEADER_LIMIT:
                return len(piece)
            header_size = end + 4 if end >= 0 else len(self.head)
            match = CONTENT_LENGTH.search(self.head[:header_size])
            length = int(match.group(1)) if match else 0
            # At least one body byte and never the last one, so the answer is
            # always cut mid-way; an answer with no body is cut after its
            # headers.
            self.at = header_size + (self.rng.randint(1, length - 1) if length > 1 else 0)
        return max(0, min(len(piece), self.at - sent))


class AnswerLog:
    """Follows the answers of one connection through their headers and
    lengths, and writes a record of each as it ends."""

    def __init__(self, out, connection):
        self.out = out
        self.connection = connection
        self.requests = []
        self.head = b""
        self.left = None  # body bytes still to come of the current answer
        self.first = None
        self.body = 0

    def request(self):
        self.requests.append(time.time())

    def sent(self, data):
        now = time.time()
        while data:
            if self.left is None:
                if self.first is None:
                    self.first = now
                self.head += data
                end = self.head.find(b"\r\n\r\n")
                if end < 0:
                    if len(self.head) > HEADER_LIMIT:
                        self.out = None  # not HTTP as expected: stop recording
                    return
                match = CONTENT_LENGTH.search(self.head[:end + 4])
                self.left = int(match.group(1)) if match else 0
                data = self.head[end + 4:]
                self.head = b""
                self.body = 0
            taken = min(self.left, len(data))
            self.left -= taken
            self.body += taken
            data = data[taken:]
            if self.left == 0:
                self.write(now, False)

    def write(self, now, cut):
        if self.out is not None and self.first is not None:
            asked = self.requests.pop(0) if self.requests else None
            self.out.write(json.dumps({"connection": self.connection, "requested": asked, "first": self.first,
                                       "end": now, "bytes": self.body, "cut": cut}) + "\n")
            self.out.flush()
        self.left = None
        self.first = None
        self.body = 0

    def cut(self):
        if self.first is not None:
            self.write(time.time(), True)


class Node:

    def __init__(self, opts):
        self.opts = opts
        self.uplink = Uplink(opts.rate)
        self.rng = random.Random(opts.seed)
        self.delay = opts.delay_ms / 1000.0
        self.server = None
        self.port = 0
        self.connections = set()
        self.record = open(opts.record, "a", encoding="utf-8") if opts.record else None
        self.serial = 0

    async def listen(self):
        self.server = await asyncio.start_server(self.accept, "127.0.0.1", self.port, reuse_address=True,
                                                 backlog=512)
        self.port = self.server.sockets[0].getsockname()[1]

    def down(self):
        if self.server is not None:
            self.server.close()
            self.server = None
        for writer in list(self.connections):
            reset(writer)
        self.connections.clear()

    async def up(self):
        if self.server is None:
            await self.listen()

    async def accept(self, client_reader, client_writer):
        self.connections.add(client_writer)
        self.serial += 1
        log = AnswerLog(self.record, self.serial) if self.record else None
        cut = CutPoint(self.rng, self.opts.tls) if self.rng.random() < self.opts.reset_share else None
        upstream_writer = None
        try:
            if self.delay:
                await asyncio.sleep(self.delay)
            upstream_reader, upstream_writer = await asyncio.open_connection("127.0.0.1", self.opts.upstream_port)
            requests = asyncio.ensure_future(self.forward_requests(client_reader, upstream_writer, log))
            try:
                await self.forward_answers(upstream_reader, client_writer, cut, log)
            finally:
                requests.cancel()
                if log is not None:
                    log.cut()
        except (OSError, asyncio.IncompleteReadError):
            pass
        finally:
            self.connections.discard(client_writer)
            for writer in (upstream_writer, client_writer):
                if writer is not None and not writer.transport.is_closing():
                    writer.close()

    async def forward_requests(self, reader, writer, log):
        try:
            while True:
                data = await reader.read(PIECE)
                if not data:
                    writer.write_eof()
                    return
                if log is not None:
                    log.request()
                if self.delay:
                    await asyncio.sleep(self.delay)
                writer.write(data)
                await writer.drain()
        except (OSError, RuntimeError):
            pass

    async def forward_answers(self, reader, writer, cut, log):
        sent = 0
        while True:
            data = await reader.read(PIECE)
            if not data:
                return
            if cut is not None:
                allowed = cut.allowed(sent, data)
                if allowed < len(data):
                    if allowed:
                        await self.uplink.send(allowed)
                        writer.write(data[:allowed])
                        await writer.drain()
                        if log is not None:
                            log.sent(data[:allowed])
                    reset(writer)
                    return
            await self.uplink.send(len(data))
            if writer.transport.is_closing():
                return
            writer.write(data)
            await writer.drain()
            sent += len(data)
            if log is not None:
                log.sent(data)


async def serve(opts):
    node = Node(opts)
    await node.listen()
    sys.stdout.write("READY %d\n" % node.port)
    sys.stdout.flush()
    loop = asyncio.get_running_loop()
    stopped = loop.create_future()
    loop.add_signal_handler(signal.SIGUSR1, node.down)
    loop.add_signal_handler(signal.SIGUSR2, lambda: asyncio.ensure_future(node.up()))
    for number in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(number, lambda: stopped.done() or stopped.set_result(None))
    await stopped
    node.down()


def main():
    parser = argparse.ArgumentParser(description="A shaping proxy in front of one download node.")
    parser.add_argument("--upstream-port", type=int, required=True, help="the node's own port on 127.0.0.1")
    parser.add_argument("--rate", type=float, default=0, help="bytes per second for all connections (0: unlimited)")
    parser.add_argument("--delay-ms", type=float, default=0, help="milliseconds every request waits")
    parser.add_argument("--reset-share", type=float, default=0, help="share of connections cut mid-answer")
    parser.add_argument("--seed", type=int, default=None, help="seed of the choice of connections to cut")
    parser.add_argument("--tls", action="store_true", help="the node speaks TLS (cut points are by count)")
    parser.add_argument("--record", help="append one JSON line per answer to this file (plain HTTP)")
    parser.add_argument("--network-dir", help="the network's folder (names the process as the network's)")
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
