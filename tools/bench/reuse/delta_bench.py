#!/usr/bin/env python3
"""Delta updates: `vrexa download` of a new version into the folder that holds
the old one, beside `zsync -i OLD` of the same new file, on the local network.

    tools/bench/reuse/delta_bench.py [--size MiB] [--build-dir DIR] [--work-dir DIR]

For each case a new version of one --size MiB file (256 by default, chunks of
1 MiB, a SHA-256 each) is published beside the old one, and both tools go
from the old version to the new one:
  inserted   one byte inserted at offset 100
  changed10  10 % of the chunks changed, a few bytes each at random places
  renamed    the file moved to another folder, bytes unchanged
  same       nothing changed
  all        every byte changed
and a plain `vrexa download` of the new version into an empty folder, the
figure an update must never exceed. For each: bytes the nodes sent (nginx's
body bytes; zsync's include its control file), requests, and wall time. zsync
gets the control file `zsyncmake` writes for the new file, served by the same
node. Finally `vrexa verify` of the --size MiB file for the scan's yardstick.
Everything is in the page cache; nothing is dropped.
"""

import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
NETWORK = os.path.join(ROOT, "tests", "support", "network")
MIB = 1 << 20
PARTNER = "p1"


def write_file(path, data_blocks):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        for block in data_blocks:
            out.write(block)


def random_blocks(seed, size):
    rnd = random.Random(seed)
    done = 0
    while done < size:
        take = min(MIB, size - done)
        yield rnd.randbytes(take)
        done += take


class Bench:
    def __init__(self, opts, work):
        self.opts = opts
        self.work = work
        build = os.path.abspath(opts.build_dir)
        self.vrexa = os.path.join(build, "tools", "vrexa", "vrexa")
        self.publisher = os.path.join(build, "tools", "publish", "vrexa-publish")
        for program in (self.vrexa, self.publisher):
            if not os.access(program, os.X_OK):
                raise SystemExit("delta_bench: %s is not built" % program)
        for program in ("zsync", "zsyncmake"):
            if not shutil.which(program):
                raise SystemExit("delta_bench: %s is not installed (./run.sh bench-delta installs zsync)" % program)
        self.tree = os.path.join(work, "tree")
        self.serial = 0
        self.network = None

    def publish(self, package, version, files):
        source = os.path.join(self.work, "source", package, version)
        for path, blocks in files.items():
            write_file(os.path.join(source, path), blocks)
        subprocess.run([self.publisher, "--partner", PARTNER, "--package", package, "--version", version,
                        "--name", package, "--chunk-size", str(MIB), source, self.tree], check=True,
                       stdout=subprocess.DEVNULL)
        return source

    def start_network(self):
        out = subprocess.run([os.path.join(NETWORK, "start"), "--tree", self.tree, "--partner", PARTNER,
                              "--publisher", self.publisher, "--nodes", "2", "--json", "--watch-pid",
                              str(os.getpid())], check=True, stdout=subprocess.PIPE, text=True).stdout
        self.network = json.loads(out)
        self.log = os.path.join(self.network["dir"], "logs", "access.log")
        self.env = dict(os.environ)
        self.env.update({
            "VREXA_MANIFEST_HOST": self.network["manifestHost"],
            "VREXA_GEOLOCATION_URL": self.network["geolocationUrl"],
            "VREXA_EVENTS_ANALYTICS_URL": self.network["eventsAnalyticsUrl"],
            "VREXA_TRANSFER_ANALYTICS_URL": self.network["transferAnalyticsUrl"],
        })

    def stop_network(self):
        if self.network:
            subprocess.run([os.path.join(NETWORK, "stop"), self.network["dir"]], check=False)

    def log_offset(self):
        try:
            return os.path.getsize(self.log)
        except OSError:
            return 0

    def traffic_since(self, offset):
        """Requests and body bytes of the GETs under /packages/ since offset."""
        requests = 0
        sent = 0
        with open(self.log, "rb") as log:
            log.seek(offset)
            for line in log:
                if b'"GET /packages/' not in line:
                    continue
                fields = line.split(b'"')
                requests += 1
                sent += int(fields[2].split()[1])
        return requests, sent

    def timed(self, args, env=None):
        subprocess.run(["sync"], check=False)
        offset = self.log_offset()
        start = time.monotonic()
        done = subprocess.run(args, env=env or self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                              cwd=self.work)
        wall = time.monotonic() - start
        if done.returncode != 0:
            raise SystemExit("delta_bench: %s failed:\n%s" % (" ".join(args), done.stderr.decode()[-2000:]))
        time.sleep(0.2)  # nginx logs a request once it is answered
        requests, sent = self.traffic_since(offset)
        return wall, requests, sent

    def vrexa_env(self):
        self.serial += 1
        env = dict(self.env)
        env["XDG_CACHE_HOME"] = os.path.join(self.work, "cache", str(self.serial))
        return env

    def vrexa_download(self, package, version, dest):
        return self.timed([self.vrexa, "download", "--no-analytics", "--quiet", "--partner", PARTNER, "--package",
                           package, "--version", version, dest], self.vrexa_env())

    def node_url(self, package, version, path):
        node = self.network["nodes"][0]
        host = node["host"] if node["host"].startswith("http") else "http://" + node["host"]
        return "%s%s%s/%s/%s/%s" % (host, node["path"], PARTNER, package, version, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", type=int, default=256, help="MiB of the file (256)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build"))
    parser.add_argument("--work-dir", default=None)
    opts = parser.parse_args()
    work = opts.work_dir or tempfile.mkdtemp(prefix="vrexa-delta-bench-")
    os.makedirs(work, exist_ok=True)
    bench = Bench(opts, work)
    size = opts.size * MIB
    old_path = "app/payload.bin"
    try:
        old = bench.publish("d", "v1", {old_path: random_blocks(1, size)})
        old_file = os.path.join(old, old_path)
        with open(old_file, "rb") as f:
            original = f.read()
        rnd = random.Random(7)
        changed = bytearray(original)
        chunks = size // MIB
        for chunk in rnd.sample(range(chunks), max(1, chunks // 10)):
            at = chunk * MIB + rnd.randrange(MIB - 16)
            changed[at:at + 16] = rnd.randbytes(16)
        cases = [
            ("inserted", old_path, [original[:100], b"!", original[100:]]),
            ("changed10", old_path, [bytes(changed)]),
            ("renamed", "moved/payload.bin", [original]),
            ("same", old_path, [original]),
            ("all", old_path, random_blocks(2, size)),
        ]
        del changed
        for number, (name, path, blocks) in enumerate(cases):
            source = bench.publish("d", "n%d" % number, {path: blocks})
            subprocess.run(["zsyncmake", "-b", "2048", "-u", os.path.basename(path), "-o",
                            os.path.join(bench.tree, "packages", PARTNER, "d", "n%d" % number, path + ".zsync"),
                            os.path.join(source, path)], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, cwd=os.path.dirname(os.path.join(source, path)))
        bench.start_network()
        rows = []
        dest = os.path.join(work, "dest")
        for number, (name, path, _) in enumerate(cases):
            version = "n%d" % number
            # vrexa: the new version into the folder of the old one.
            shutil.rmtree(dest, ignore_errors=True)
            write_file(os.path.join(dest, old_path), [original])
            wall, requests, sent = bench.vrexa_download("d", version, dest)
            rows.append((name, "vrexa update", wall, requests, sent))
            # zsync: the new file from the old one and the control file.
            out = os.path.join(work, "zsync-out.bin")
            if os.path.exists(out):
                os.unlink(out)
            wall, requests, sent = bench.timed(["zsync", "-q", "-i", old_file, "-o", out,
                                                bench.node_url("d", version, path + ".zsync")])
            rows.append((name, "zsync -i OLD", wall, requests, sent))
            # The plain download the update must not exceed.
            shutil.rmtree(dest, ignore_errors=True)
            os.makedirs(dest)
            wall, requests, sent = bench.vrexa_download("d", version, dest)
            rows.append((name, "vrexa plain", wall, requests, sent))
        shutil.rmtree(dest, ignore_errors=True)
        write_file(os.path.join(dest, old_path), [original])
        verify = bench.timed([bench.vrexa, "verify", "--no-analytics", "--quiet", "--partner", PARTNER,
                              "--package", "d", "--version", "v1", dest], bench.vrexa_env())
        print("%d MiB file, 1 MiB chunks, local network (2 nginx nodes)" % opts.size)
        print("| case | tool | wall s | requests | bytes fetched |")
        print("|---|---|---|---|---|")
        for name, tool, wall, requests, sent in rows:
            print("| %s | %s | %.2f | %d | %d |" % (name, tool, wall, requests, sent))
        print("vrexa verify of the %d MiB file: %.2f s" % (opts.size, verify[0]))
    finally:
        bench.stop_network()
        if not opts.work_dir:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
