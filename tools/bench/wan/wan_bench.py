#!/usr/bin/env python3
"""WAN benchmark: `vrexa download` side by side with aria2c on shaped local
networks (nodes of unequal capacity, far away, flaky or dying), against the
ideal time: the package's size over the summed rates of the nodes.

    tools/bench/wan/wan_bench.py [--runs N] [--scenario NAME ...] [--size MiB]
                                 [--vrexa-arg ARG ...] [--build-dir DIR]

Each scenario starts the local network with four nginx nodes behind shaping
proxies (tests/support/network, --shape), then runs the tools in turn
(vrexa, aria2c, vrexa, aria2c, ...) into empty folders and checks what each
wrote. aria2c gets a metalink with the same four nodes and the SHA-1 of every
1 MiB piece (one SHA-1 per file for the small files), --uri-selector=adaptive,
and the settings that were its best for the case (ARIA2_SETTINGS, printed).

From the answers the shaping proxies record, each run also gets where its
time went: per node the answers, their bytes, the wait from a request to its
first byte, the time to its last byte, the connections and answers per
connection, the answers cut, and when the node's last answer ended; how many
requests were in flight on average; and the tail: the time from 95 % of the
bytes to the end of the run.

Conditions: every time here is set by the shaping, not by the CPU, as long as
the machine keeps up with the proxies (Python, about 30 MB/s in all); the
load average is printed with the table.
"""

import argparse
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import xml.sax.saxutils

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
NETWORK = os.path.join(ROOT, "tests", "support", "network")
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import e2e_bench as e2e  # noqa: E402  (the end-to-end benchmark's measuring and publishing)

MIB = 1 << 20
MB = 1000 * 1000
PARTNER = "p1"
VERSION = "v1"

# The nodes of the scenarios: rate in bytes per second, delay per request.
UNEQUAL = [{"rate": 16 * MB, "delay_ms": 20}, {"rate": 8 * MB, "delay_ms": 50},
           {"rate": 2 * MB, "delay_ms": 100}, {"rate": MB // 2, "delay_ms": 150, "reset_share": 0.2}]
DISTANT = [{"rate": 6 * MB, "delay_ms": 150}] * 4
DYING = [{"rate": 6 * MB, "delay_ms": 50}] * 4
ONE_CRAWLING = [{"rate": 8 * MB, "delay_ms": 30}] * 3 + [{"rate": 80 * 1000, "delay_ms": 30}]


class Scenario:

    def __init__(self, name, title, package, shapes, die_at_half=None):
        self.name = name
        self.title = title
        self.package = package
        self.shapes = [dict(shape, seed=index + 1) for index, shape in enumerate(shapes)]
        # The node (index) taken down halfway through the ideal time.
        self.die_at_half = die_at_half

    def ideal(self, size):
        """Seconds for `size` bytes at the summed rates of the nodes; with a
        node dying, the rates of all of them up to its death and of the others
        after it."""
        rates = [shape["rate"] for shape in self.shapes]
        everyone = size / sum(rates)
        if self.die_at_half is None:
            return everyone
        death = everyone / 2
        left = size - death * sum(rates)
        return death + left / (sum(rates) - rates[self.die_at_half])

    def death_time(self, size):
        return self.ideal_all(size) / 2 if self.die_at_half is not None else None

    def ideal_all(self, size):
        return size / sum(shape["rate"] for shape in self.shapes)


SCENARIOS = [
    Scenario("unequal", "16, 8, 2, 0.5 MB/s; 20-150 ms; the slowest resets 20 %", "one", UNEQUAL),
    Scenario("distant", "4 x 6 MB/s, 150 ms per request", "one", DISTANT),
    Scenario("dying", "4 x 6 MB/s, 50 ms; node4 dies halfway", "one", DYING, die_at_half=3),
    Scenario("crawling", "3 x 8 MB/s and one of 0.08 MB/s, 30 ms", "one", ONE_CRAWLING),
    Scenario("small-files", "10 000 files of 10 KiB on the unequal nodes", "many", UNEQUAL),
    Scenario("big", "one file of 256 MiB on the unequal nodes", "big", UNEQUAL),
]

# aria2c's settings per package kind: tried on these scenarios, these were
# its best (more connections per server than 4 made the unequal case slower:
# the slow nodes held more pieces at the end).
ARIA2_SETTINGS = {
    "one": ["--max-connection-per-server=4", "--split=16", "--min-split-size=1M", "--piece-length=1M"],
    "big": ["--max-connection-per-server=4", "--split=16", "--min-split-size=1M", "--piece-length=1M"],
    "many": ["--max-concurrent-downloads=32", "--max-connection-per-server=1", "--split=1"],
}


def answers_since(network, offsets):
    """The answers each shaped node recorded since `offsets` (by node id):
    node id -> list of records (requested, first, end, bytes, connection, cut)."""
    found = {}
    for node in network["nodes"]:
        path = record_path(network, node)
        found[node["id"]] = []
        with open(path, "rb") as records:
            records.seek(offsets.get(node["id"], 0))
            for line in records:
                found[node["id"]].append(json.loads(line))
    return found


def record_path(network, node):
    return os.path.join(network["dir"], "logs", "shaper-%s.jsonl" % node["id"])


def record_offsets(network):
    offsets = {}
    for node in network["nodes"]:
        try:
            offsets[node["id"]] = os.path.getsize(record_path(network, node))
        except OSError:
            offsets[node["id"]] = 0
    return offsets


class Profile:
    """Where a run's time went, from the answers the shaping proxies recorded:
    per node the answers, their bytes, the wait from request to first byte,
    the time from request to last byte, connections and answers per
    connection, cut answers, when its last answer ended; the mean number of
    requests in flight; the tail after 95 % of the bytes."""

    def __init__(self, answers, started, wall):
        self.per_node = []
        everything = []
        for node, mine in answers.items():
            timed = [a for a in mine if a["requested"] is not None]
            everything += timed
            connections = len({a["connection"] for a in mine})
            self.per_node.append({
                "node": node,
                "answers": len(mine),
                "MiB": sum(a["bytes"] for a in mine) / MIB,
                "wait": statistics.mean(a["first"] - a["requested"] for a in timed) if timed else 0.0,
                "answer": statistics.mean(a["end"] - a["requested"] for a in timed) if timed else 0.0,
                "connections": connections,
                "per connection": len(mine) / connections if connections else 0.0,
                "cut": sum(1 for a in mine if a["cut"]),
                "last": max(a["end"] for a in mine) - started if mine else 0.0,
            })
        self.in_flight = sum(a["end"] - a["requested"] for a in everything) / wall if wall else 0.0
        total = sum(a["bytes"] for a in everything)
        done = 0
        self.tail = 0.0
        for answer in sorted(everything, key=lambda a: a["end"]):
            done += answer["bytes"]
            if done >= 0.95 * total:
                self.tail = wall - (answer["end"] - started)
                break

    def lines(self):
        out = ["    %.1f requests in flight on average; the last 5 %% of the bytes took %.2f s" %
               (self.in_flight, self.tail)]
        for node in self.per_node:
            out.append("    %(node)s: %(answers)d answers, %(MiB).1f MiB, first byte after %(wait).3f s, "
                       "whole answer %(answer).3f s, %(connections)d connections (%(per connection).1f answers "
                       "each), %(cut)d cut, last ended at %(last).2f s" % node)
        return out


class Bench:

    def __init__(self, opts, work):
        self.opts = opts
        self.work = work
        self.vrexa_program, self.publisher = e2e.built_programs(opts.build_dir, "wan_bench")
        self.aria2c = shutil.which("aria2c")
        if "aria2c" in opts.tool and not self.aria2c:
            raise SystemExit("wan_bench: aria2c is not installed (./run.sh bench-e2e installs it)")
        self.tree = os.path.join(work, "tree")
        self.sources = {}
        self.network = None
        self.serial = 0

    # The packages ------------------------------------------------------------

    def prepare(self, kind):
        if kind in self.sources:
            return
        source = os.path.join(self.work, "source-" + kind)
        if kind == "many":
            for index in range(self.opts.files):
                path = os.path.join(source, "%02d" % (index // 1000), "%04d.bin" % index)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as out:
                    out.write(os.urandom(10 * 1024))
        else:
            os.makedirs(source)
            size = self.opts.size if kind == "one" else self.opts.big_size
            e2e.write_random_file(os.path.join(source, "payload.bin"), size * MIB)
        print("wan_bench: publishing %s..." % kind, flush=True)
        e2e.publish(self.publisher, source, self.tree, kind)
        files = []
        for folder, _, names in os.walk(source):
            for name in names:
                files.append(os.path.relpath(os.path.join(folder, name), source))
        files.sort()
        self.sources[kind] = {"dir": source, "files": files, "digest": tree_digest(source, files),
                              "size": sum(os.path.getsize(os.path.join(source, f)) for f in files)}

    def write_metalink(self, kind, nodes):
        source = self.sources[kind]
        esc = xml.sax.saxutils.escape
        path = os.path.join(self.work, "%s-%s.metalink" % (kind, self.serial))
        with open(path, "w", encoding="utf-8") as out:
            out.write('<?xml version="1.0" encoding="UTF-8"?>\n<metalink xmlns="urn:ietf:params:xml:ns:metalink">\n')
            for name in source["files"]:
                full = os.path.join(source["dir"], name)
                with open(full, "rb") as data:
                    content = data.read() if kind == "many" else None
                pieces = ""
                if content is None:
                    hashes = []
                    with open(full, "rb") as data:
                        for block in iter(lambda: data.read(MIB), b""):
                            hashes.append(hashlib.sha1(block).hexdigest())
                    pieces = ('    <pieces length="%d" type="sha-1">\n%s    </pieces>\n' %
                              (MIB, "".join("      <hash>%s</hash>\n" % h for h in hashes)))
                    whole = e2e.sha1_of(full)
                else:
                    whole = hashlib.sha1(content).hexdigest()
                urls = "".join("    <url>http://%s%s%s/%s/%s/%s</url>\n" %
                               (node["host"], node["path"], PARTNER, kind, VERSION, esc(name)) for node in nodes)
                out.write('  <file name="%s">\n    <size>%d</size>\n    <hash type="sha-1">%s</hash>\n%s%s  </file>\n'
                          % (esc(name), os.path.getsize(full), whole, pieces, urls))
            out.write("</metalink>\n")
        return path

    # The network -------------------------------------------------------------

    def start_network(self, scenario):
        args = [os.path.join(NETWORK, "start"), "--tree", self.tree, "--partner", PARTNER, "--publisher",
                self.publisher, "--nodes", str(len(scenario.shapes)), "--json", "--watch-pid", str(os.getpid())]
        for shape in scenario.shapes:
            args += ["--shape", json.dumps(shape)]
        self.network = json.loads(subprocess.run(args, check=True, stdout=subprocess.PIPE, text=True).stdout)
        self.env = e2e.network_env(self.network)

    def stop_network(self):
        e2e.stop_network(self.network)
        self.network = None

    def set_node(self, index, state):
        subprocess.run([sys.executable, os.path.join(NETWORK, "localnet.py"), "node", self.network["dir"],
                        self.network["nodes"][index]["id"], state], check=True)

    # The runs ----------------------------------------------------------------

    def vrexa_args(self, kind, dest):
        return [self.vrexa_program, "download", "--no-analytics", "--quiet"] + self.opts.vrexa_arg + [
            "--partner", PARTNER, "--package", kind, dest]

    def aria2_args(self, kind, metalink, dest):
        return [self.aria2c, "--quiet=true", "--console-log-level=error", "--summary-interval=0",
                "--metalink-file=" + metalink, "--dir=" + dest, "--auto-file-renaming=false",
                "--allow-overwrite=true", "--uri-selector=adaptive", "--file-allocation=falloc",
                "--max-tries=0", "--retry-wait=0", "--connect-timeout=5", "--timeout=10"] + ARIA2_SETTINGS[kind]

    def run_one(self, scenario, tool, metalink):
        kind = scenario.package
        self.serial += 1
        dest = os.path.join(self.work, "dest")
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)
        os.sync()
        env = dict(self.env)
        if tool == "vrexa":
            cache = os.path.join(self.work, "cache", str(self.serial))
            os.makedirs(cache)
            env["XDG_CACHE_HOME"] = cache
            args = self.vrexa_args(kind, dest)
        else:
            args = self.aria2_args(kind, metalink, dest)
        offsets = record_offsets(self.network)
        size = self.sources[kind]["size"]
        death = scenario.death_time(size)
        with tempfile.TemporaryFile() as err:
            measured = e2e.Measured(args, env, err)
            started = time.time()
            if death is not None:
                if not measured.poll(death):
                    self.set_node(scenario.die_at_half, "down")
            run = measured.result(0)
            if death is not None:
                self.set_node(scenario.die_at_half, "up")
            if run.code != 0:
                err.seek(0)
                raise SystemExit("wan_bench: %s in %s exited %d:\n%s" % (tool, scenario.name, run.code,
                                                                         err.read()[-2000:].decode("utf-8", "replace")))
        got = tree_digest(dest, self.sources[kind]["files"])
        if got != self.sources[kind]["digest"]:
            raise SystemExit("wan_bench: %s wrote different bytes in %s" % (tool, scenario.name))
        profile = Profile(answers_since(self.network, offsets), started, run.wall)
        shutil.rmtree(dest, ignore_errors=True)
        return run, profile

    def run(self):
        os.makedirs(self.tree)
        chosen = [s for s in SCENARIOS if not self.opts.scenario or s.name in self.opts.scenario]
        for scenario in chosen:
            self.prepare(scenario.package)
        results = []
        for scenario in chosen:
            self.start_network(scenario)
            metalink = self.write_metalink(scenario.package, self.network["nodes"])
            runs = {tool: [] for tool in self.opts.tool}
            for index in range(self.opts.runs):
                for tool in self.opts.tool:
                    print("wan_bench: %s, %s, run %d of %d" % (scenario.name, tool, index + 1, self.opts.runs),
                          flush=True)
                    run, profile = self.run_one(scenario, tool, metalink)
                    runs[tool].append(run)
                    print("  %.2f s, %.2f s CPU" % (run.wall, run.cpu), flush=True)
                    print("\n".join(profile.lines()), flush=True)
            self.stop_network()
            results.append((scenario, runs))
        self.report(results)

    def report(self, results):
        when = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
        lines = ["", "## WAN benchmark (%d run%s each, %s, %d cores, load average %s)" %
                 (self.opts.runs, "" if self.opts.runs == 1 else "s", when, os.cpu_count(),
                  " ".join("%.2f" % x for x in os.getloadavg())), ""]
        if self.opts.vrexa_arg:
            lines.append("vrexa with: %s" % " ".join(self.opts.vrexa_arg))
            lines.append("")
        lines.append("| scenario | size MiB | vrexa s (median) | aria2c s (median) | ideal s | vrexa / aria2c |"
                     " vrexa / ideal | aria2c / ideal |")
        lines.append("|---|---|---|---|---|---|---|---|")
        for scenario, runs in results:
            size = self.sources[scenario.package]["size"]
            ideal = scenario.ideal(size)
            vrexa = statistics.median(r.wall for r in runs["vrexa"]) if runs.get("vrexa") else None
            aria = statistics.median(r.wall for r in runs["aria2c"]) if runs.get("aria2c") else None

            def figure(value):
                return "-" if value is None else "%.2f" % value
            lines.append("| %s: %s | %.0f | %s | %s | %.2f | %s | %s | %s |" %
                         (scenario.name, scenario.title, size / MIB, figure(vrexa), figure(aria), ideal,
                          figure(vrexa / aria if vrexa and aria else None), figure(vrexa / ideal if vrexa else None),
                          figure(aria / ideal if aria else None)))
        lines.append("")
        lines.append("aria2c: metalink of the same nodes, --uri-selector=adaptive, --file-allocation=falloc, and")
        for kind, settings in ARIA2_SETTINGS.items():
            lines.append("- %s: %s" % (kind, " ".join(settings)))
        print("\n".join(lines), flush=True)


def tree_digest(folder, files):
    digest = hashlib.sha1()
    for name in files:
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            return None
        digest.update(name.encode() + b"\0")
        with open(path, "rb") as data:
            for block in iter(lambda: data.read(16 * MIB), b""):
                digest.update(block)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser(description="vrexa download side by side with aria2c on shaped networks.")
    parser.add_argument("--runs", type=int, default=1, help="runs of each tool per scenario, alternating (default 1)")
    parser.add_argument("--scenario", action="append", choices=[s.name for s in SCENARIOS],
                        help="run only this scenario (repeatable; default all)")
    parser.add_argument("--size", type=int, default=96, help="MiB of the one-file package (default 96)")
    parser.add_argument("--big-size", type=int, default=256, help="MiB of the big package (default 256)")
    parser.add_argument("--files", type=int, default=10000, help="10 KiB files of the many-files package")
    parser.add_argument("--tool", action="append", choices=("vrexa", "aria2c"),
                        help="run only this tool (repeatable; default both)")
    parser.add_argument("--vrexa-arg", action="append", default=[],
                        help="an extra argument of vrexa download, e.g. --vrexa-arg=--threads=8 (repeatable)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build"), help="the build folder (default build)")
    opts = parser.parse_args()
    opts.tool = opts.tool or ["vrexa", "aria2c"]
    if opts.runs < 1 or opts.size < 1 or opts.big_size < 1 or opts.files < 1:
        parser.error("--runs, --size, --big-size and --files need at least 1")
    work = tempfile.mkdtemp(prefix="vrexa-wan-bench-")
    bench = Bench(opts, work)
    try:
        bench.run()
    finally:
        bench.stop_network()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
