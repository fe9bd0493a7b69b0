#!/usr/bin/env python3
"""Plots the fleet simulation: each node's share of the bytes served over
time (stacked, nodes ordered by capacity) beside each node's share of the
fleet's capacity, with the failed node's outage marked.

Usage: plot.py FOLDER   (reads fleet_*.csv written by vrexa-fleet-sim --out,
writes FOLDER/fleet_load_share.png)
"""
import csv
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def read(path):
    with open(path, newline="") as handle:
        return list(csv.DictReader(handle))


def main(folder):
    nodes = read(os.path.join(folder, "fleet_nodes.csv"))
    bins = read(os.path.join(folder, "fleet_bins.csv"))
    event = read(os.path.join(folder, "fleet_events.csv"))[0]
    count = len(nodes)
    times = [float(row["start"]) for row in bins]
    shares = [[] for _ in range(count)]
    for row in bins:
        values = [float(row["node%d" % i]) for i in range(count)]
        total = sum(values)
        for i in range(count):
            shares[i].append(values[i] / total if total > 0 else 0.0)
    capacity = [float(row["capacity_share"]) for row in nodes]
    failed = int(event["failed_node"])
    colors = [plt.cm.viridis(i / max(count - 1, 1)) for i in range(count)]

    figure, (over_time, beside) = plt.subplots(
        1, 2, figsize=(13, 6), gridspec_kw={"width_ratios": [12, 1]}, sharey=True)
    over_time.stackplot(times, shares, colors=colors, linewidth=0)
    over_time.axvspan(float(event["fail_time"]), float(event["return_time"]),
                      color="red", alpha=0.12,
                      label="node %d (largest) down" % failed)
    over_time.set_xlim(times[0], times[-1])
    over_time.set_ylim(0, 1)
    over_time.set_xlabel("simulated time (s)")
    over_time.set_ylabel("share of bytes served (stacked; small nodes at "
                         "the bottom, large at the top)")
    over_time.set_title("Load share over time")
    over_time.legend(loc="lower left")
    bottom = 0.0
    for i in range(count):
        beside.bar(0, capacity[i], bottom=bottom, color=colors[i], width=0.8)
        bottom += capacity[i]
    beside.set_xticks([])
    beside.set_title("Capacity\nshare")
    figure.tight_layout()
    path = os.path.join(folder, "fleet_load_share.png")
    figure.savefig(path, dpi=100)
    print("plot: %s" % path)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
