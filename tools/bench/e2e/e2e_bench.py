#!/usr/bin/env python3
"""End-to-end benchmark: `vrexa download` and `vrexa verify` side by side with
aria2c on the same package, served by the same local network.

    tools/bench/e2e/e2e_bench.py [--pairs N] [--big] [--files N] [--tls] [--only-first-request]
                                 [--build-dir DIR]

What it does:
  1. writes a 1 GiB file (--size MiB) of random bytes and publishes it with
     vrexa-publish (one file, 1 MiB chunks); writes a metalink listing the four nodes and
     the SHA-1 of every 1 MiB piece, so aria2c checks every piece as well;
  2. starts the local network with four nginx download nodes;
  3. runs pairs, alternating the tools (A B A B ...):
       P1  `vrexa download` into an empty folder   vs  aria2c, 8 connections,
           1 MiB pieces, --file-allocation=falloc, the metalink;
           `vrexa download` once with the SHA-256 of every chunk in the
           manifest (as the publisher writes it) and once of the same file
           published with the CRC-32s alone (package k1c), for the cost of
           the strong check
       P2  `vrexa download` of the complete package and `vrexa verify`
           (with SHA-256s, and verify of k1c with CRC-32s alone)
                                                   vs  aria2c -V, the metalink
     recording wall time, CPU time (user + system) and peak RSS of each, and
     how many chunk requests reached the nodes;
  4. peak RSS of `vrexa download` for 1 GiB (from P1) and, with --big, 4 GiB;
  5. P4: serves a package of --files files (100 000; 0 skips it), all empty
     but the last, which is one chunk, and measures the time from starting `vrexa download` to its first chunk
     request at a node, and the peak RSS up to then (the download is then
     interrupted).

With --tls every server of the network speaks HTTPS (a throwaway authority of
its own, which vrexa gets as --cacert and aria2c as --ca-certificate), so both
tools pay for TLS on every connection.

The source tree and every destination live under one working folder
(--work-dir, default a new folder in $TMPDIR) that is removed at the end.
Page-cache residency of the published file and of the destinations is
measured with fincore and printed: nothing is dropped from the cache, so the
source is served from memory and destinations are written to memory. An
untimed sync before each run keeps one run's write-back out of the next.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import tempfile
import time
import xml.sax.saxutils

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
NETWORK = os.path.join(ROOT, "tests", "support", "network")

MIB = 1 << 20
PARTNER = "p1"
VERSION = "v1"
FILE_NAME = "payload.bin"
TIME = "/usr/bin/time"


class Run:
    """One timed process: wall seconds, CPU seconds, peak RSS in MiB, chunk
    requests the nodes logged while it ran."""

    def __init__(self, wall, cpu, rss_mib, requests, code):
        self.wall = wall
        self.cpu = cpu
        self.rss_mib = rss_mib
        self.requests = requests
        self.code = code


class AccessLog:
    """The network's nginx access log: chunk requests are the GETs under
    /packages/ (manifests and node lists come from elsewhere)."""

    def __init__(self, network_dir):
        self.path = os.path.join(network_dir, "logs", "access.log")

    def offset(self):
        try:
            return os.path.getsize(self.path)
        except OSError:
            return 0

    def chunk_requests_since(self, offset):
        with open(self.path, "rb") as log:
            log.seek(offset)
            return sum(1 for line in log if b'"GET /packages/' in line)


class Measured:
    """A command started under /usr/bin/time. Its peak RSS has to come from a
    parent as small as that: Linux carries the high-water mark of the memory a
    process had before exec over into its own, so a child forked from this
    script would report at least this script's size. CPU time comes from
    wait4 on the time process, which includes the child it waited for."""

    def __init__(self, args, env, stderr):
        self.rss_file = tempfile.NamedTemporaryFile(prefix="vrexa-e2e-rss-", delete=False)
        self.rss_file.close()
        self.start = time.monotonic()
        self.proc = subprocess.Popen([TIME, "-f", "%M", "-o", self.rss_file.name, "--"] + args, env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=stderr)
        self.ended = None

    def poll(self, block_seconds=0):
        """True once the command has ended (and is reaped), waiting up to block_seconds."""
        until = time.monotonic() + block_seconds
        while self.ended is None:
            pid, status, usage = os.wait4(self.proc.pid, os.WNOHANG)
            if pid:
                self.ended = (time.monotonic() - self.start, os.waitstatus_to_exitcode(status), usage)
                self.proc.returncode = self.ended[1]  # reaped here; Popen must not wait again
            elif time.monotonic() >= until:
                break
            else:
                time.sleep(0.002)
        return self.ended is not None

    def signal_command(self, sig):
        """Signals the measured command itself: time ignores SIGINT while it waits."""
        try:
            with open("/proc/%d/task/%d/children" % (self.proc.pid, self.proc.pid)) as children:
                for child in children.read().split():
                    os.kill(int(child), sig)
        except (OSError, ValueError):
            pass

    def result(self, requests):
        self.poll(float("inf"))
        wall, code, usage = self.ended
        try:
            with open(self.rss_file.name) as out:
                rss_kib = int(out.read().split()[-1])
        except (OSError, ValueError, IndexError):
            rss_kib = 0
        os.unlink(self.rss_file.name)
        return Run(wall, usage.ru_utime + usage.ru_stime, rss_kib / 1024.0, requests, code)


def timed(args, env, log, allowed=(0,)):
    """Runs a command to its end: wall and CPU time, peak RSS, chunk requests."""
    offset = log.offset()
    with tempfile.TemporaryFile() as err:
        run = Measured(args, env, err).result(0)
        if run.code not in allowed:
            err.seek(0)
            raise SystemExit("e2e_bench: %s exited %d:\n%s" %
                             (" ".join(args), run.code, err.read()[-2000:].decode("utf-8", "replace")))
    run.requests = log.chunk_requests_since(offset)
    return run


def write_random_file(path, size):
    with open(path, "wb") as out:
        left = size
        while left:
            block = min(left, 16 * MIB)
            out.write(os.urandom(block))
            left -= block


def publish(publisher, source, tree, package, chunk=MIB):
    subprocess.run([publisher, "--partner", PARTNER, "--package", package, "--version", VERSION, "--name",
                    "Benchmark " + package, "--chunk-size", str(chunk), source, tree], check=True,
                   stdout=subprocess.DEVNULL)


def strip_sha256(tree, package):
    """The package's manifests as a publisher that knew only CRC-32s wrote
    them: every sha256 element taken out."""
    folder = os.path.join(tree, "manifests", package)
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        with open(path, encoding="utf-8") as document:
            text = document.read()
        stripped = re.sub(r"\s*<sha256>[0-9a-f]*</sha256>|\s*<sha256/>", "", text)
        if stripped == text:
            raise SystemExit("e2e_bench: no sha256 element in %s" % path)
        with open(path, "w", encoding="utf-8") as document:
            document.write(stripped)


def write_metalink(path, payload, nodes, package):
    """A metalink (RFC 5854) for aria2c: the file's size and SHA-1, the SHA-1 of
    every 1 MiB piece, and one URL per node."""
    pieces = []
    whole = hashlib.sha1()
    with open(payload, "rb") as data:
        while True:
            block = data.read(MIB)
            if not block:
                break
            whole.update(block)
            pieces.append(hashlib.sha1(block).hexdigest())
    esc = xml.sax.saxutils.escape

    def base(host):
        return host if host.startswith("https://") else "http://" + host
    urls = "".join("    <url>%s</url>\n" % esc("%s%s%s/%s/%s/%s" % (base(node["host"]), node["path"], PARTNER, package,
                                                                    VERSION, FILE_NAME)) for node in nodes)
    with open(path, "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                  '<metalink xmlns="urn:ietf:params:xml:ns:metalink">\n'
                  '  <file name="%s">\n'
                  '    <size>%d</size>\n'
                  '    <hash type="sha-1">%s</hash>\n'
                  '    <pieces length="%d" type="sha-1">\n%s    </pieces>\n'
                  '%s'
                  '  </file>\n'
                  '</metalink>\n' % (FILE_NAME, os.path.getsize(payload), whole.hexdigest(), MIB,
                                     "".join("      <hash>%s</hash>\n" % h for h in pieces), urls))


def sha1_of(path):
    digest = hashlib.sha1()
    with open(path, "rb") as data:
        for block in iter(lambda: data.read(16 * MIB), b""):
            digest.update(block)
    return digest.hexdigest()


def cached_percent(path):
    """How much of a file is in the page cache, in percent (None without fincore)."""
    fincore = shutil.which("fincore")
    if not fincore or not os.path.exists(path):
        return None
    out = subprocess.run([fincore, "-b", "-n", "-o", "RES,SIZE", path], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True).stdout.split()
    if len(out) < 2 or not int(out[1]):
        return None
    return 100.0 * int(out[0]) / int(out[1])


def built_programs(build_dir, bench):
    """The vrexa and vrexa-publish programs of a build folder; ends the
    benchmark named bench with a message when either is not built."""
    build = os.path.abspath(build_dir)
    programs = (os.path.join(build, "tools", "vrexa", "vrexa"),
                os.path.join(build, "tools", "publish", "vrexa-publish"))
    for program in programs:
        if not os.access(program, os.X_OK):
            raise SystemExit("%s: %s is not built (cmake --build %s --target vrexa vrexa-publish)" %
                             (bench, program, build_dir))
    return programs


def network_env(network):
    """The environment that points vrexa at a started local network."""
    env = dict(os.environ)
    env.update({
        "VREXA_MANIFEST_HOST": network["manifestHost"],
        "VREXA_GEOLOCATION_URL": network["geolocationUrl"],
        "VREXA_EVENTS_ANALYTICS_URL": network["eventsAnalyticsUrl"],
        "VREXA_TRANSFER_ANALYTICS_URL": network["transferAnalyticsUrl"],
    })
    return env


def stop_network(network):
    if network:
        subprocess.run([os.path.join(NETWORK, "stop"), network["dir"]], check=False)


class Bench:

    def __init__(self, opts, work):
        self.opts = opts
        self.work = work
        self.vrexa_program, self.publisher = built_programs(opts.build_dir, "e2e_bench")
        self.aria2c = shutil.which("aria2c")
        if not os.access(TIME, os.X_OK):
            raise SystemExit("e2e_bench: %s is not installed (Debian package time)" % TIME)
        if not self.aria2c and not opts.only_first_request:
            raise SystemExit("e2e_bench: aria2c is not installed (./run.sh bench-e2e installs it)")
        self.tree = os.path.join(work, "tree")
        self.network = None
        self.serial = 0

    # The network -------------------------------------------------------------

    def start_network(self):
        out = subprocess.run([os.path.join(NETWORK, "start"), "--tree", self.tree, "--partner", PARTNER,
                              "--publisher", self.publisher, "--nodes", "4", "--json", "--watch-pid",
                              str(os.getpid())] + (["--tls"] if self.opts.tls else []),
                             check=True, stdout=subprocess.PIPE, text=True).stdout
        self.network = json.loads(out)
        self.log = AccessLog(self.network["dir"])
        self.env = network_env(self.network)

    def stop_network(self):
        stop_network(self.network)
        self.network = None

    # The commands ------------------------------------------------------------

    def vrexa_env(self):
        """Each run gets a cache folder of its own: no stored transfer or log
        from an earlier run can shorten or lengthen it."""
        self.serial += 1
        cache = os.path.join(self.work, "cache", str(self.serial))
        os.makedirs(cache)
        env = dict(self.env)
        env["XDG_CACHE_HOME"] = cache
        return env

    def vrexa_cmd(self, command, package, dest):
        trust = ["--cacert", self.network["caFile"]] if self.network.get("caFile") else []
        return [self.vrexa_program, command, "--no-analytics", "--quiet"] + trust + [
            "--partner", PARTNER, "--package", package, dest]

    def vrexa(self, command, package, dest):
        return timed(self.vrexa_cmd(command, package, dest), self.vrexa_env(), self.log)

    def aria2(self, metalink, dest, verify=False):
        args = [self.aria2c, "--quiet=true", "--console-log-level=error", "--summary-interval=0",
                "--metalink-file=" + metalink, "--dir=" + dest, "--auto-file-renaming=false",
                "--allow-overwrite=true", "--max-connection-per-server=8", "--split=8",
                "--min-split-size=1M", "--piece-length=1M", "--file-allocation=falloc"]
        if self.network.get("caFile"):
            args.append("--ca-certificate=" + self.network["caFile"])
        if verify:
            args.append("--check-integrity=true")
        return timed(args, self.env, self.log)

    @staticmethod
    def fresh(dest):
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)
        # Write-back of the previous run's file is not charged to the next run.
        os.sync()

    # The measurements --------------------------------------------------------

    def prepare_package(self, package, size):
        source = os.path.join(self.work, "source-" + package)
        os.makedirs(source)
        write_random_file(os.path.join(source, FILE_NAME), size)
        publish(self.publisher, source, self.tree, package)
        payload = os.path.join(source, FILE_NAME)
        published = os.path.join(self.tree, "packages", PARTNER, package, VERSION, FILE_NAME)
        return payload, published

    def check_same(self, path, expected_sha1, who):
        got = sha1_of(path)
        if got != expected_sha1:
            raise SystemExit("e2e_bench: %s wrote %s with SHA-1 %s, expected %s" % (who, path, got, expected_sha1))

    def run(self):
        opts = self.opts
        os.makedirs(self.tree)
        if opts.only_first_request:
            self.start_network()
            self.report(None, None, None, self.first_request(opts.files), None)
            return
        print("e2e_bench: writing and publishing a %d MiB package (1 MiB chunks)..." % opts.size, flush=True)
        payload, published = self.prepare_package("k1", opts.size * MIB)
        # The same bytes as a package whose manifest has no SHA-256s.
        publish(self.publisher, os.path.dirname(payload), self.tree, "k1c")
        strip_sha256(self.tree, "k1c")
        big = self.prepare_package("k4", 4 * opts.size * MIB) if opts.big else None
        metalink = os.path.join(self.work, "k1.metalink")
        self.start_network()
        write_metalink(metalink, payload, self.network["nodes"], "k1")
        expected = sha1_of(payload)

        # Untimed warm-up of both tools; also checks what each writes, and
        # leaves the complete copies P2 works on.
        vrexa_done = os.path.join(self.work, "complete-vrexa")
        crc_done = os.path.join(self.work, "complete-vrexa-crc")
        aria_done = os.path.join(self.work, "complete-aria2")
        for dest in (vrexa_done, crc_done, aria_done):
            self.fresh(dest)
        self.vrexa("download", "k1", vrexa_done)
        self.check_same(os.path.join(vrexa_done, FILE_NAME), expected, "vrexa download")
        self.vrexa("download", "k1c", crc_done)
        self.check_same(os.path.join(crc_done, FILE_NAME), expected, "vrexa download (CRC-32 only)")
        self.aria2(metalink, aria_done)
        self.check_same(os.path.join(aria_done, FILE_NAME), expected, "aria2c")

        cache_notes = {
            "published file before the pairs": cached_percent(published),
            "complete destination (vrexa) before the pairs": cached_percent(os.path.join(vrexa_done, FILE_NAME)),
            "complete destination (aria2c) before the pairs": cached_percent(os.path.join(aria_done, FILE_NAME)),
        }
        p1 = {"vrexa download": [], "vrexa download (CRC-32 only)": [], "aria2c": []}
        p2 = {"vrexa download (complete)": [], "vrexa verify": [], "vrexa verify (CRC-32 only)": [],
              "aria2c -V": []}
        dest = os.path.join(self.work, "dest")
        for pair in range(opts.pairs):
            print("e2e_bench: pair %d of %d" % (pair + 1, opts.pairs), flush=True)
            self.fresh(dest)
            p1["vrexa download"].append(self.vrexa("download", "k1", dest))
            self.fresh(dest)
            p1["vrexa download (CRC-32 only)"].append(self.vrexa("download", "k1c", dest))
            self.fresh(dest)
            p1["aria2c"].append(self.aria2(metalink, dest))
            os.sync()
            p2["vrexa download (complete)"].append(self.vrexa("download", "k1", vrexa_done))
            p2["vrexa verify"].append(self.vrexa("verify", "k1", vrexa_done))
            p2["vrexa verify (CRC-32 only)"].append(self.vrexa("verify", "k1c", crc_done))
            p2["aria2c -V"].append(self.aria2(metalink, aria_done, verify=True))
        shutil.rmtree(dest, ignore_errors=True)
        cache_notes["published file after the pairs"] = cached_percent(published)
        cache_notes["complete destination (vrexa) after the pairs"] = cached_percent(
            os.path.join(vrexa_done, FILE_NAME))
        cache_notes["complete destination (aria2c) after the pairs"] = cached_percent(
            os.path.join(aria_done, FILE_NAME))

        memory = {"%d MiB" % opts.size: statistics.median(r.rss_mib for r in p1["vrexa download"])}
        if big:
            big_dest = os.path.join(self.work, "dest-big")
            self.fresh(big_dest)
            memory["%d MiB" % (4 * opts.size)] = self.vrexa("download", "k4", big_dest).rss_mib
            shutil.rmtree(big_dest, ignore_errors=True)

        p4 = self.first_request(opts.files) if opts.files else None
        self.report(p1, p2, memory, p4, cache_notes)

    def first_request(self, count):
        """Serves a package of `count` files (one of them one chunk, the others
        empty), starts a download and waits for the first chunk request at a
        node; then interrupts the download."""
        print("e2e_bench: writing a manifest of %d files for the first-request measurement..." % count, flush=True)
        # Only the file with content is published; the manifest is then
        # rewritten with the empty files around it, in the compact form
        # (attributes, no indentation) that keeps a million entries under the
        # manifest's size cap.
        source = os.path.join(self.work, "source-many")
        # The file with content comes last (every file before it is set up
        # first) or, with --content-first, first (the set-up of the package
        # alone).
        with_content = 0 if self.opts.content_first else count - 1
        name = "%d/%d" % (with_content // 1000, with_content % 1000)
        os.makedirs(os.path.dirname(os.path.join(source, name)))
        with open(os.path.join(source, name), "wb") as out:
            out.write(b"%08d" % with_content)
        start = time.monotonic()
        publish(self.publisher, source, self.tree, "many")
        manifests = os.path.join(self.tree, "manifests", "many")
        with open(os.path.join(manifests, VERSION + ".xml"), encoding="utf-8") as published:
            text = published.read()
        files_at = text.index("<files>") + len("<files>")
        files_end = text.index("</files>")
        compact = os.path.join(manifests, "compact.xml")
        with open(compact, "w", encoding="utf-8") as out:
            out.write(text[:files_at])
            if self.opts.content_first:
                out.write(text[files_at:files_end])
            for i in range(count):
                if i != with_content:
                    out.write('<file path="%d/%d" chunksize="4096" size="0" checksums=""/>' % (i // 1000, i % 1000))
            if not self.opts.content_first:
                out.write(text[files_at:files_end])
            out.write(text[files_end:])
        shutil.copyfile(compact, os.path.join(manifests, "current.xml"))
        os.replace(compact, os.path.join(manifests, VERSION + ".xml"))
        print("e2e_bench: manifest of %.1f MB" % (os.path.getsize(os.path.join(manifests, "current.xml")) / 1e6),
              flush=True)
        published_s = time.monotonic() - start
        dest = os.path.join(self.work, "dest-many")
        self.fresh(dest)
        offset = self.log.offset()
        args = self.vrexa_cmd("download", "many", dest)
        measured = Measured(args, self.vrexa_env(), subprocess.DEVNULL)
        first = None
        deadline = measured.start + 300
        while time.monotonic() < deadline and not measured.poll():
            if self.log.chunk_requests_since(offset):
                first = time.monotonic() - measured.start
                break
            time.sleep(0.002)
        # Interrupted as a user would (it keeps the transfer); a second signal
        # ends it at once, and a kill is the last resort.
        for sig, grace in ((signal.SIGINT, 30), (signal.SIGINT, 5), (signal.SIGKILL, 3600)):
            if measured.poll():
                break
            measured.signal_command(sig)
            measured.poll(grace)
        rss_mib = measured.result(0).rss_mib
        return {"files": count, "publish_s": published_s, "first_request_s": first,
                "rss_mib": rss_mib}

    # The report --------------------------------------------------------------

    @staticmethod
    def p4_line(p4):
        first = p4["first_request_s"]
        return ("P4: %d files (prepared in %.1f s): first chunk request after %s, peak RSS up to then %.0f MiB" %
                (p4["files"], p4["publish_s"], "%.3f s" % first if first is not None else "never (300 s)",
                 p4["rss_mib"]))

    def report(self, p1, p2, memory, p4, cache_notes):
        opts = self.opts
        lines = ["", "## End-to-end benchmark%s (%d pairs, %s, %d cores, load average %s)" %
                 (" over HTTPS" if opts.tls else "", opts.pairs, time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
                  os.cpu_count(),
                  " ".join("%.2f" % x for x in os.getloadavg())), ""]
        if p1 is None:
            lines.append(self.p4_line(p4))
            print("\n".join(lines), flush=True)
            return
        lines.append("| measurement | tool | wall s min / med / max | CPU s min / med / max | peak RSS MiB med |"
                     " chunk requests med | wall ratio med | CPU ratio med |")
        lines.append("|---|---|---|---|---|---|---|---|")

        def row(name, tool, runs, yardstick):
            wall = [r.wall for r in runs]
            cpu = [r.cpu for r in runs]
            ratio_wall = ratio_cpu = "-"
            if yardstick is not None and yardstick is not runs:
                ratio_wall = "%.2f" % statistics.median(a.wall / b.wall for a, b in zip(runs, yardstick))
                ratio_cpu = "%.2f" % statistics.median(a.cpu / max(b.cpu, 1e-9) for a, b in zip(runs, yardstick))
            lines.append("| %s | %s | %.2f / %.2f / %.2f | %.2f / %.2f / %.2f | %.0f | %d | %s | %s |" %
                         (name, tool, min(wall), statistics.median(wall), max(wall), min(cpu),
                          statistics.median(cpu), max(cpu), statistics.median(r.rss_mib for r in runs),
                          statistics.median(r.requests for r in runs), ratio_wall, ratio_cpu))

        for tool, runs in p1.items():
            row("P1 %d MiB into an empty folder" % opts.size, tool, runs, p1["aria2c"])
        for tool, runs in p2.items():
            row("P2 %d MiB already complete" % opts.size, tool, runs, p2["aria2c -V"])
        lines.append("")
        lines.append("Ratios are vrexa / aria2c, the median of the per-pair ratios.")
        lines.append("")
        lines.append("| peak RSS of `vrexa download` | MiB |")
        lines.append("|---|---|")
        for size, rss in memory.items():
            lines.append("| %s | %.0f |" % (size, rss))
        if p4:
            lines.append("")
            lines.append(self.p4_line(p4))
        lines.append("")
        lines.append("Page cache (fincore; nothing is dropped, so the source is served from memory and destinations"
                     " are written to memory):")
        for what, percent in cache_notes.items():
            lines.append("- %s: %s" % (what, "unknown" if percent is None else "%.0f %% resident" % percent))
        print("\n".join(lines), flush=True)


def main():
    parser = argparse.ArgumentParser(description="vrexa download and verify side by side with aria2c.")
    parser.add_argument("--pairs", type=int, default=5, help="runs of each tool, alternating (default 5)")
    parser.add_argument("--big", action="store_true", help="also the peak RSS of a download 4 times the size")
    parser.add_argument("--size", type=int, default=1024, help="package size in MiB (default 1024)")
    parser.add_argument("--files", type=int, default=100000,
                        help="files of the first-request package (default 100000; 0 skips it)")
    parser.add_argument("--tls", action="store_true", help="every server speaks HTTPS (both tools verify it)")
    parser.add_argument("--only-first-request", action="store_true",
                        help="run P4 alone (no 1 GiB package, no aria2c pairs)")
    parser.add_argument("--content-first", action="store_true",
                        help="P4: the file with content is the first of the package, not the last")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build"), help="the build folder (default build)")
    parser.add_argument("--work-dir", help="an empty folder for the data (default: a new one in $TMPDIR)")
    opts = parser.parse_args()
    if opts.pairs < 1 or opts.size < 1 or opts.files < 0:
        parser.error("--pairs and --size need at least 1, --files at least 0")
    if opts.work_dir:
        os.makedirs(opts.work_dir, exist_ok=True)
        if os.listdir(opts.work_dir):
            parser.error("--work-dir must be empty")
        work = os.path.abspath(opts.work_dir)
    else:
        work = tempfile.mkdtemp(prefix="vrexa-e2e-bench-")
    bench = Bench(opts, work)
    try:
        bench.run()
    finally:
        bench.stop_network()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
