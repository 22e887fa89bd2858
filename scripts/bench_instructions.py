#!/usr/bin/python3
"""Instruction counts (callgrind) of the decoding and framing benchmarks.

    scripts/bench_instructions.py [BUILD_DIR]     (default build/prof)

Configures BUILD_DIR if need be (Release with -g), builds decode_bench,
framer_bench and korvane, then counts with valgrind --tool=callgrind:
- each decoding row of decode_bench for one pass (only the decoder's pass,
  between the benchmark's own callgrind toggles; the walk it is paired
  with is not counted);
- `korvane decode FILE > /dev/null` on each corpus (the whole process);
- the link's framer (CConsoleFramer::Push) on each corpus.
Prints a Markdown table (the build's output goes to stderr): instructions per octet and per node (per message
for the framer). Counts are exact and repeatable, unlike times; they change
only with the code and the compiler. Takes some minutes.
"""

import json
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPORA = {0: "answers", 1: "snapshots"}


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, text=True, **kw)


def total_ir(out_file):
    with open(out_file, encoding="utf-8") as f:
        for line in f:
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    raise SystemExit(f"no totals in {out_file}")


def callgrind(args, tmp, name, extra=()):
    out = os.path.join(tmp, name + ".out")
    proc = run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, *extra, *args],
               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return total_ir(out), proc.stdout


def bench_row(build, binary, pattern, tmp, extra):
    ir, stdout = callgrind([os.path.join(build, binary), "--benchmark_filter=" + pattern,
                            "--benchmark_min_time=0.000001", "--benchmark_format=json"],
                           tmp, re.sub(r"\W", "_", pattern), extra)
    rows = json.loads(stdout or "{}").get("benchmarks")
    if not rows:
        raise SystemExit(f"bench_instructions: no benchmark matches {pattern} in {binary}")
    return ir, rows[0]


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/prof"))
    if not os.path.exists(os.path.join(build, "build.ninja")):
        run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
             "-DCMAKE_CXX_FLAGS=-g", "-DKORVANE_TESTS=OFF"], stdout=sys.stderr)
    run(["cmake", "--build", build, "--target", "decode_bench", "framer_bench", "korvane"],
        stdout=sys.stderr)

    rows = []
    nodes_of = {}
    with tempfile.TemporaryDirectory() as tmp:
        for pattern, what in [("^BM_PlainDecode/{k}(/|$)", "tree building (plain mode), 4096"),
                              ("^BM_ReportDecode/{k}/1(/|$)", "report reader, 1"),
                              ("^BM_ReportDecode/{k}/64(/|$)", "report reader, 64"),
                              ("^BM_ReportDecode/{k}/4096(/|$)", "report reader, 4096"),
                              ("^BM_ReportReaderOctets/{k}(/|$)", "report reader alone, from the octets"),
                              ("^BM_ReportReaderTree/{k}(/|$)", "report reader alone, tree walk")]:
            for kind, corpus in CORPORA.items():
                ir, row = bench_row(build, "decode_bench", pattern.format(k=kind), tmp,
                                    ["--collect-atstart=no"])
                passes = row["iterations"]
                # The reader-alone rows count no nodes: the corpus's count.
                nodes = nodes_of.setdefault(kind, row.get("nodes", 0))
                octets = 16 << 20  # bench/decode_bench.cpp, kCorpusOctets
                rows.append((what, corpus, ir / passes / octets, ir / passes / nodes if nodes else 0))

        # The whole tool, on the corpora as files.
        env = dict(os.environ, KORVANE_BENCH_CORPUS_DIR=tmp)
        run([os.path.join(build, "decode_bench"), "--benchmark_filter=^BM_ToolDecode/",
             "--benchmark_min_time=0.000001"], env=env, stdout=subprocess.DEVNULL)
        for kind, corpus in CORPORA.items():
            path = os.path.join(tmp, corpus + ".bin")
            ir, _ = callgrind([os.path.join(build, "korvane"), "decode", path], tmp, "tool" + corpus)
            rows.append(("`korvane decode FILE > /dev/null`", corpus, ir / os.path.getsize(path), 0))

        for kind, corpus in {**CORPORA, 2: "capture"}.items():
            ir, row = bench_row(build, "framer_bench", f"^BM_FramerOnScanner/{kind}(/|$)", tmp,
                                ["--toggle-collect=CConsoleFramer::Push*"])
            messages = row["messages"] * row["iterations"]
            rows.append(("link framer, 4096 (per message)", corpus, 0, ir / messages))

    print("| row | corpus | instructions/octet | instructions/node |")
    print("|---|---|---|---|")
    for what, corpus, per_octet, per_node in rows:
        octet = f"{per_octet:.1f}" if per_octet else "-"
        node = f"{per_node:.0f}" if per_node else "-"
        print(f"| {what} | {corpus} | {octet} | {node} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
