#!/usr/bin/env python3
"""Rate-limit benchmark: how closely `vrexa download --limit-rate` holds a
download to the limit, side by side with the tools users would pick instead.

On the local download network (4 nginx nodes), one package per limit:

  vrexa    `vrexa download --json --limit-rate RATE`: the downloaded bytes of
           every progress line, timed as it arrives, give the rate over every
           5 s window from 5 s after the start to the end; reported are the
           lowest and highest window against the limit, and the average.
  curl     `curl --limit-rate RATE` of the same file from one node: the
           average rate against the limit (curl reports no windows).
  aria2c   `aria2c --max-overall-download-limit=RATE` with the metalink of the
           four nodes, 4 connections: the average rate against the limit.

The bound to hold is every window within 5 % of the limit. One command:

    tools/bench/ratelimit/ratelimit_bench.py --build-dir build [--limits 2M,8M]
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import e2e_bench  # noqa: E402

WINDOW = 5.0
UNITS = {"": 1, "K": 1 << 10, "M": 1 << 20, "G": 1 << 30}


def parse_rate(text):
    unit = text[-1:].upper() if text[-1:].isalpha() else ""
    return int(float(text[:len(text) - len(unit)]) * UNITS[unit])


def windows(samples):
    """Rates over every WINDOW-second window of (seconds, bytes) samples,
    from WINDOW seconds after the start to the last sample, each window
    starting at a sample."""
    rates = []
    start = samples[0][0] + WINDOW
    last = 0
    for first in range(len(samples)):
        if samples[first][0] < start:
            continue
        end = samples[first][0] + WINDOW
        if end > samples[-1][0]:
            break
        last = max(last, first)
        while last + 1 < len(samples) and samples[last + 1][0] <= end:
            last += 1
        # The bytes at the window's end, interpolated between two samples.
        t0, b0 = samples[last]
        t1, b1 = samples[min(last + 1, len(samples) - 1)]
        at_end = b0 if t1 == t0 else b0 + (b1 - b0) * (end - t0) / (t1 - t0)
        rates.append((at_end - samples[first][1]) / WINDOW)
    return rates


def run_vrexa(bench, package, dest, rate):
    cmd = bench.vrexa_cmd("download", package, dest)
    cmd = [arg for arg in cmd if arg != "--quiet"]
    cmd[2:2] = ["--json", "--limit-rate", rate]
    started = time.monotonic()
    samples = [(0.0, 0)]
    process = subprocess.Popen(cmd, env=bench.vrexa_env(), stdout=subprocess.PIPE, text=True)
    for line in process.stdout:
        try:
            status = json.loads(line)
        except ValueError:
            continue
        samples.append((time.monotonic() - started, int(status["downloadedBytes"])))
    if process.wait() != 0:
        raise SystemExit("ratelimit_bench: vrexa download ended with %d" % process.returncode)
    return samples, time.monotonic() - started


def timed_run(args, env):
    started = time.monotonic()
    subprocess.run(args, env=env, check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="build")
    parser.add_argument("--limits", default="2M,8M", help="comma-separated rates in curl's syntax")
    parser.add_argument("--seconds", type=float, default=30.0,
                        help="how long each download should last at its limit (sets the package size)")
    opts = parser.parse_args()
    opts.tls = False
    opts.only_first_request = False
    work = tempfile.mkdtemp(prefix="vrexa-ratelimit-bench-")
    bench = e2e_bench.Bench(opts, work)
    rows = []
    try:
        packages = {}
        for index, text in enumerate(opts.limits.split(",")):
            rate = parse_rate(text)
            size = int(rate * opts.seconds) // e2e_bench.MIB * e2e_bench.MIB or e2e_bench.MIB
            package = "r%d" % index
            packages[text] = (package, rate) + bench.prepare_package(package, size)
        bench.start_network()
        nodes = bench.network["nodes"]
        for text, (package, rate, payload, published) in packages.items():
            size = os.path.getsize(payload)
            dest = os.path.join(work, "vrexa-" + package)
            bench.fresh(dest)
            samples, wall = run_vrexa(bench, package, dest, text)
            bench.check_same(os.path.join(dest, e2e_bench.FILE_NAME), e2e_bench.sha1_of(payload), "vrexa")
            rates = windows(samples)
            row = {"limit": text, "bytes": size, "vrexa_average": size / wall}
            if rates:
                row["vrexa_lowest_window"] = min(rates)
                row["vrexa_highest_window"] = max(rates)
                row["windows"] = len(rates)
            node = nodes[0]
            url = "http://%s%s%s/%s/%s/%s" % (node["host"], node["path"], e2e_bench.PARTNER, package,
                                              e2e_bench.VERSION, e2e_bench.FILE_NAME)
            out = os.path.join(work, "curl-" + package)
            row["curl_average"] = size / timed_run(["curl", "-sSf", "--limit-rate", text, "-o", out, url],
                                                   bench.env)
            if bench.aria2c:
                metalink = os.path.join(work, package + ".metalink")
                e2e_bench.write_metalink(metalink, payload, nodes, package)
                dest = os.path.join(work, "aria2-" + package)
                bench.fresh(dest)
                row["aria2c_average"] = size / timed_run(
                    [bench.aria2c, "--quiet=true", "--metalink-file=" + metalink, "--dir=" + dest,
                     "--allow-overwrite=true", "--max-connection-per-server=1", "--split=4",
                     "--min-split-size=1M", "--max-overall-download-limit=%s" % text], bench.env)
            row["rate"] = rate
            rows.append(row)
    finally:
        bench.stop_network()
        shutil.rmtree(work, ignore_errors=True)

    print("machine: %d cores, load %.1f" % (os.cpu_count(), os.getloadavg()[0]))
    header = ("limit", "MiB", "vrexa: 5 s windows low..high / avg", "curl avg", "aria2c avg")
    print("%-6s %8s  %-34s %-12s %-12s" % header)
    for row in rows:
        rate = row["rate"]

        def pct(value):
            return "%+.1f %%" % (100.0 * (value / rate - 1)) if value is not None else "-"
        print("%-6s %8.0f  %-34s %-12s %-12s" % (
            row["limit"], row["bytes"] / e2e_bench.MIB,
            "%s..%s / %s (%d)" % (pct(row.get("vrexa_lowest_window")), pct(row.get("vrexa_highest_window")),
                                  pct(row["vrexa_average"]), row.get("windows", 0)),
            pct(row["curl_average"]), pct(row.get("aria2c_average"))))


if __name__ == "__main__":
    main()
