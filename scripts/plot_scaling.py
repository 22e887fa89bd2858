#!/usr/bin/python3
"""Plots decoding throughput against nesting depth and Set width.

Reads the JSON output of scaling_bench and writes a PNG with two panels:
MB/s of BM_NestingDepth against the depth and of BM_SetWidth against the
number of children (logarithmic axes). Needs Debian's python3-matplotlib
(scripts/setup.sh installs it), hence /usr/bin/python3.

    build/release/scaling_bench --benchmark_filter='NestingDepth|SetWidth' \\
        --benchmark_min_time=0.3 --benchmark_format=json > /tmp/scaling.json
    scripts/plot_scaling.py /tmp/scaling.json docs/scaling.png

More than one JSON file may be given as LABEL=FILE (for instance before=...
after=...); each becomes one line in both panels.
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def series(path):
    with open(path) as f:
        data = json.load(f)
    depth, width = [], []
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        name = b["name"]
        rate = b.get("bytes_per_second", 0.0) / 1e6
        if name.startswith("BM_NestingDepth/"):
            depth.append((int(b.get("depth", name.split("/")[1])), rate))
        elif name.startswith("BM_SetWidth/"):
            width.append((int(b.get("width", name.split("/")[1])), rate))
    return sorted(depth), sorted(width)


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: plot_scaling.py [LABEL=]FILE.json ... OUTPUT.png")
    inputs = sys.argv[1:-1]
    output = sys.argv[-1]
    fig, (left, right) = plt.subplots(1, 2, figsize=(10, 4))
    for item in inputs:
        label, _, path = item.rpartition("=")
        depth, width = series(path)
        if depth:
            left.plot([d for d, _ in depth], [r for _, r in depth], "o-", label=label or None)
        if width:
            right.plot([w for w, _ in width], [r for _, r in width], "o-", label=label or None)
    left.set_xscale("log", base=2)
    left.set_xlabel("nesting depth (Sets)")
    left.set_ylabel("MB/s (report reader, block 4096)")
    left.set_title("Depth")
    right.set_xscale("log")
    right.set_xlabel("children of one Set")
    right.set_title("Width")
    for axis in (left, right):
        axis.set_ylim(bottom=0)
        axis.grid(True, which="both", alpha=0.3)
        if len(inputs) > 1:
            axis.legend()
    fig.tight_layout()
    fig.savefig(output, dpi=100)


if __name__ == "__main__":
    main()
