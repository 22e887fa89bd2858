#!/usr/bin/env python3
"""The Wireshark dissector wireshark/korvane.lua against the korvane tool.

    dissector_test.py KORVANE SOURCE_DIR

Octet streams (the console capture, the eight command shapes and a console
simulator's answers to them, trees with every value type and odd structure,
damaged messages) are written into captures by scripts/make_pcap.py, cut
into TCP segments of 1, 7 and 64 octets and whole, and read by tshark with
the dissector. For each direction, the reports and errors the dissector
finds must be exactly those `korvane decode --all --json` prints for the
same octets, in order, and its element trees those of `korvane dump --json`.
The dissector must load without a warning, find the start sequence on
another port, work through "Decode As", cope with truncated captures, read
messages of many elements and a long element (showing a bounded part of
them) and read through a retransmission that overlaps new octets.

Exit status 77 (skipped) when tshark is not installed.
"""
import importlib.util
import json
import os
import re
import selectors
import shutil
import socket
import subprocess
import sys
import tempfile
import time

TIMEOUT = 120  # seconds for one tshark or korvane run, far above what it takes
SEGMENTS = [1, 7, 64, 1 << 20]
# As root, tshark warns on every run; the test runs it as this user instead
# (or, without setpriv, takes exactly that warning out of its output).
NOBODY = 65534
ROOT_WARNING = 'Running as user "root" and group "root". This could be dangerous.\n'

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)
    return ok


def load_builder(source):
    """The element builder of scripts/make_capture.py."""
    path = os.path.join(source, "scripts", "make_capture.py")
    found = importlib.util.spec_from_file_location("make_capture", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


# ---------------------------------------------------------------------------
# The streams
# ---------------------------------------------------------------------------

COMMANDS = ["1,2,3,4,5,100", "1,2,3,4,6,Hello~there", "1,2,3,4,5,-1", "1,2,3,0,0,-1",
            "1,2,3,0,0,Main~out", "1,2,3,4,0,-1", "1,2,3,4,0,Stage~left", "1,2,3,4,0,55"]


def value_messages(b):
    """Trees with every value type and the odd structures the reader and the
    report rules meet."""
    C, P, A = b.CONTEXT, b.PRIVATE, b.APPLICATION

    def leaf(number, type_octet, content, cls=A):
        return b.element(cls, number, bytes([type_octet]) + b.length(len(content)) + content)

    def seq_of(cls, number, children):
        content = b"".join(children)
        return b.element(cls, number, b"\x30" + b.length(len(content)) + content)

    def root(*children):
        return b.START + b"".join(children) + b.END

    def param(path, container):
        inner = [container]
        for number in reversed([7] + path):
            inner = [b.set_of(C, number, inner)]
        return root(*inner)

    values = seq_of(C, 1, [
        leaf(1, 0x01, b"\xFF"), leaf(2, 0x01, b"\x00\xFF"),
        leaf(3, 0x02, b"\xFF\x7F"), leaf(3, 0x02, b"\x01\x00\x00\x00\x05"),
        leaf(4, 0x02, b"\xFF" * 7 + b"\xFE"), leaf(4, 0x02, b"\x80" + b"\x00" * 5), leaf(4, 0x02, b"\x80" + b"\x00" * 8),
        leaf(5, 0x09, b"\x80\x01\x03"), leaf(5, 0x09, bytes.fromhex("80FC0CCCCCCCCCCCCD")),
        leaf(5, 0x09, b"\xC0\x01\x05"), leaf(5, 0x09, b"\x40"), leaf(5, 0x09, b"\x41"),
        leaf(5, 0x09, b""), leaf(5, 0x09, b"\x81\xFC\x01\x03"), leaf(5, 0x09, b"\x81\x04\x00\x03"),
        leaf(5, 0x09, b"\xC1\x04\x00\x03"), leaf(5, 0x09, b"\x81\x04\x00\x01"),
        leaf(6, 0x04, b"\x01\xAB\xFF"), leaf(6, 0x04, bytes(range(40))), leaf(6, 0x04, b""),
        leaf(7, 0x0C, b"Main out"), leaf(7, 0x0C, b"ab\x00cd"), leaf(7, 0x0C, b""),
        leaf(8, 0x0D, b"\x01\x82\x2C"), leaf(8, 0x0D, b"\x8F\xFF\xFF\xFF\x7F\x00"),
        leaf(9, 0x18, b"20111027123456.789Z"), leaf(9, 0x18, b"20111027123456.5Z"),
        leaf(9, 0x18, b"20111027123456Z"), leaf(9, 0x18, b"2011"), leaf(9, 0x18, b" 2012 2 29 1 2 3.4Z"),
        leaf(9, 0x18, b"20110231000000.0Z"),
        leaf(10, 0x05, b""), leaf(10, 0x0A, b"\x01"),
    ])
    return [
        root(values),
        # Tags of every size; a report of a negative-looking number.
        param([31, 128, 4294967295, 4], b.set_of(P, 2 ** 31, [b.integer(-7)])),
        # Held aside, nested root, a container of a constructed value type,
        # an empty definite Set, indefinite lengths.
        root(b.set_of(A, 4294946013, [b.set_of(C, 1, [b.integer(1)])]),
             b.set_of(C, 1, [seq_of(A, 4294946012, [b.set_of(A, 4294946013, []), b.integer(2)]),
                             b.element(C, 2, b"\x24\x05\x63\x03\x02\x01\x05"),
                             b.set_of(C, 9, [])]),
             b.set_of(C, 2, [b.set_of(P, 3, [b.text("in tree")])], indefinite=True)),
        # Seven Set levels; two sibling branches continue the count.
        root(b.set_of(C, 7, [b.set_of(C, 1, [b.set_of(C, 2, [b.set_of(C, 3, [b.set_of(C, 4, [
            b.set_of(C, 5, [b.set_of(C, 6, [b.set_of(P, 8, [b.integer(9)])])])])])])])]),
             b.set_of(C, 11, [b.set_of(P, 12, [b.integer(13)])])),
        # Under application 34 no integer report, a text one; a private
        # container straight under the root; a three-level text.
        root(b.set_of(C, 7, [b.set_of(A, 34, [b.set_of(P, 1, [b.integer(5)]), b.set_of(P, 2, [b.text("a b")])])]),
             b.set_of(P, 4, [b.integer(6)])),
        param([1, 2], b.set_of(P, 3, [b.text("three level")])),
        # A private Sequence with a text first and an integer second at
        # application 3; a context Sequence on the path; a text too long.
        param([1, 2, 3, 4], seq_of(P, 5, [b.text("first"), b.integer(8)])),
        root(b.set_of(C, 7, [seq_of(C, 1, [b.set_of(C, 2, [b.set_of(P, 3, [b.integer(4)])])])])),
        param([1, 2, 3, 4], b.set_of(P, 5, [b.text("x" * 60)])),
    ]


def damaged_stream(b):
    """Broken messages, each followed by a good one that must be read."""
    C, P = b.CONTEXT, b.PRIVATE
    bad = [
        "A180318000000001",          # 101 non-zero terminator octet
        "A100",                      # 102 zero outer length
        "BFFFFFFFFFFFFFFF7F",        # 103 nine identifier octets
        "A185",                      # 104 six length octets
        "A10631040001020304",        # 105 terminator in a definite container
        "A207310463030201050000",    # 106 the container ends inside an element
        "A1073105A28031800000",      # 106 an indefinite child overruns
        "020100",                    # 107 universal outer tag
        "8101",                      # 108 primitive outer tag
        "A1031F1F",                  # 109 inner type 31
        "A10342",                    # 110 non-universal inner tag
        "A80302800000",              # 112 indefinite primitive
        "A1840100001002840100000100",  # 113 content above 16 MiB
        "A3020100", "A3020200", "A30409020000", "A303090103", "A3020D00", "A3030D0181", "A3021800",
        "A10C310A63030201056303020106",  # 1001 a second child of one tag in a Set
        "A180318000",                # broken off by the next start sequence
    ]
    parts = [b"\x00line noise\x7F\x8F\xFF", b"\x7F" + b.START[:5]]
    for i, hex_text in enumerate(bad):
        parts.append(b.START + bytes.fromhex(hex_text))
        parts.append(b"\x7F\x8F\x55")
        parts.append(b.message([1, 2, 3, 4], [b.parameter(5, b.integer(i))]))
    parts.append(b.START + (b"\xA1\x80\x31\x80" * 257))  # 111 nesting depth
    parts.append(b.message([1, 2, 3, 4], [b.parameter(5, b.integer(1000))]))
    return b"".join(parts)


# ---------------------------------------------------------------------------
# Tools
# ---------------------------------------------------------------------------

def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, timeout=TIMEOUT, **kwargs)


def korvane_json(korvane, command, octets):
    result = run([korvane, command, "--all", "--json"] if command == "decode" else [korvane, command, "--json"],
                 input=octets)
    return [json.loads(line) for line in result.stdout.decode("utf-8").splitlines() if line]


def encode(korvane, line):
    result = run([korvane, "encode", line])
    if result.returncode != 0:
        raise RuntimeError(f"korvane encode {line}: {result.stderr.decode()}")
    return bytes.fromhex(result.stdout.decode())


class LineReader:
    """Lines of a pipe, each waited for with a deadline."""

    def __init__(self, pipe):
        self.pipe, self.buffer = pipe, b""
        self.selector = selectors.DefaultSelector()
        self.selector.register(pipe, selectors.EVENT_READ)

    def line(self, deadline):
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not self.selector.select(left):
                raise TimeoutError("no line from the console simulator")
            chunk = os.read(self.pipe.fileno(), 4096)
            if not chunk:
                raise EOFError("the console simulator ended")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode()


def simulator_answers(korvane, blocks):
    """The octets a console simulator sends back for the command blocks."""
    process = subprocess.Popen([korvane, "console", "--listen", "127.0.0.1:0", "--verbose"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    connection = None
    try:
        deadline = time.monotonic() + TIMEOUT
        lines = LineReader(process.stderr)
        port = None
        while port is None:
            found = re.search(r"listening on 127\.0\.0\.1:(\d+)", lines.line(deadline))
            port = int(found.group(1)) if found else None
        connection = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
        connection.sendall(b"".join(blocks))
        # Every command is logged, then its answer; the last one (a value)
        # is always answered.
        handled, expected = 0, 0
        while True:
            line = lines.line(deadline)
            if ": message:" in line:
                handled += 1
            answer = re.search(r": answer (\d+) octets", line)
            if answer:
                expected += int(answer.group(1))
                if handled == len(blocks):
                    break
        received = b""
        while len(received) < expected:
            chunk = connection.recv(65536)
            if not chunk:
                break
            received += chunk
        return received
    finally:
        if connection:
            connection.close()
        process.terminate()
        process.wait(timeout=TIMEOUT)


class Tshark:
    def __init__(self, work, script):
        self.work, self.script = work, script
        self.prefix = []
        if os.geteuid() == 0 and shutil.which("setpriv"):
            self.prefix = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
                           "env", f"HOME={work}"]

    def run(self, capture, *options):
        args = self.prefix + ["tshark", "-n", "-r", capture, "-X", "lua_script:" + self.script] + list(options)
        result = run(args)
        err = result.stderr.decode("utf-8", "replace")
        if os.geteuid() == 0 and not self.prefix:
            err = err.replace(ROOT_WARNING, "", 1)
        return result.returncode, result.stdout.decode("utf-8", "replace"), err


def as_list(value):
    if value is None:
        return []
    return value if isinstance(value, list) else [value]


def dissected(output):
    """Per direction, the messages the dissector shows, in stream order:
    {"kind", "reports", "error", "tree"}."""
    directions = {}
    for packet in json.loads(output or "[]"):
        layer = packet["_source"]["layers"].get("korvane")
        if not layer:
            continue
        messages = directions.setdefault(layer["korvane.direction"], [])
        for tree in as_list(layer.get("korvane.message_tree")):
            entry = {"kind": tree["korvane.kind"], "reports": as_list(tree.get("korvane.report")),
                     "error": None, "tree": None}
            if "korvane.error.code" in tree:
                entry["error"] = (int(tree["korvane.error.code"]),
                                  tree["korvane.error.code_tree"]["korvane.error.message"])
            else:
                entry["tree"] = element(tree["korvane.element"], tree["korvane.element_tree"])
            messages.append(entry)
    return directions


def element(tag, tree):
    """An element of the dissector's tree as (tag, node type, value or
    children); elements the tree does not hold are left out."""
    inner = int(tree["korvane.element.type"])
    if tree["korvane.element.constructed"] == "1":
        children = [element(t, sub) for t, sub in zip(as_list(tree.get("korvane.element")),
                                                     as_list(tree.get("korvane.element_tree")))
                    if "korvane.element.held" not in sub]
        return (tag, 16 if inner == 16 else 17, children)
    return (tag, inner, tree.get("korvane.element.value", ""))


def dumped(node):
    if "children" in node:
        return (node["tag"], node["type"], [dumped(child) for child in node["children"]])
    return (node["tag"], node["type"], node["text"].replace("\r\n", ""))


def count_elements(tree):
    return 1 + (sum(count_elements(child) for child in tree[2]) if isinstance(tree[2], list) else 0)


# ---------------------------------------------------------------------------
# The checks
# ---------------------------------------------------------------------------

def main(argv):
    if len(argv) != 3:
        print("usage: dissector_test.py KORVANE SOURCE_DIR", file=sys.stderr)
        return 2
    korvane, source = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    if not shutil.which("tshark"):
        print("tshark is not installed (scripts/setup.sh wireshark): skipped")
        return 77
    builder = load_builder(source)
    make_pcap = os.path.join(source, "scripts", "make_pcap.py")

    blocks = [encode(korvane, line) for line in COMMANDS]
    with open(os.path.join(source, "data", "console_capture.bin"), "rb") as f:
        capture = f.read()
    streams = {
        "console capture": {"c": capture},
        "command shapes and simulator answers": {"p": b"".join(blocks), "c": simulator_answers(korvane, blocks)},
        "value types and structures": {"c": b"".join(value_messages(builder))},
        "damaged messages": {"c": damaged_stream(builder)},
    }
    direction_names = {"c": "console to partner", "p": "partner to console"}

    work = tempfile.mkdtemp(prefix="korvane-wireshark.")
    os.chmod(work, 0o755)
    try:
        script = os.path.join(work, "korvane.lua")
        shutil.copyfile(os.path.join(source, "wireshark", "korvane.lua"), script)
        os.chmod(script, 0o644)
        tshark = Tshark(work, script)

        def make(name, parts, *options):
            path = os.path.join(work, name)
            args = [sys.executable, make_pcap, path] + list(options)
            for side, octets in parts:
                part = os.path.join(work, f"{name}.{side}.bin")
                with open(part, "wb") as f:
                    f.write(octets)
                args.append(f"{side}:{part}")
            result = run(args)
            if result.returncode != 0:
                raise RuntimeError(result.stderr.decode())
            os.chmod(path, 0o644)
            return path

        totals = {"messages": 0, "reports": 0, "errors": 0, "elements": 0, "captures": 0}
        for name, sides in streams.items():
            expected = {}
            for side, octets in sides.items():
                events = korvane_json(korvane, "decode", octets)
                expected[direction_names[side]] = {
                    "reports": [e["report"] + ("\n" if e["type"] == "text" else "") for e in events if "report" in e],
                    "errors": [(e["error"], e["message"]) for e in events if "error" in e],
                    "trees": [dumped(m["root"]) for m in korvane_json(korvane, "dump", octets)],
                }
            for segment in SEGMENTS:
                label = f"{name}, segments of {segment if segment < 1 << 20 else 'any size (whole)'}"
                path = make(f"s{segment}.pcap", list(sides.items()), "--segment", str(segment))
                status, out, err = tshark.run(path, "-T", "json", "--no-duplicate-keys", "-Y", "korvane")
                check(status == 0 and err == "", f"{label}: tshark loads the dissector without a warning {err.strip()}")
                got = dissected(out)
                totals["captures"] += 1
                for direction, want in expected.items():
                    messages = got.get(direction, [])
                    reports = [r for m in messages for r in m["reports"]]
                    errors = [m["error"] for m in messages if m["error"]]
                    trees = [m["tree"] for m in messages if m["tree"] is not None]
                    check(reports == want["reports"], f"{label}, {direction}: {len(want['reports'])} reports as decode prints them")
                    if reports != want["reports"]:
                        print("  dissector:", reports, "\n  korvane:  ", want["reports"])
                    check(errors == want["errors"], f"{label}, {direction}: {len(want['errors'])} errors as decode reports them")
                    if errors != want["errors"]:
                        print("  dissector:", errors, "\n  korvane:  ", want["errors"])
                    same = trees == want["trees"]
                    check(same, f"{label}, {direction}: {len(want['trees'])} message trees as dump writes them")
                    if not same:
                        for i, (a, b) in enumerate(zip(trees, want["trees"])):
                            if a != b:
                                print(f"  message {i + 1}:\n  dissector: {a}\n  korvane:   {b}")
                                break
                    totals["messages"] += len(want["trees"])
                    totals["reports"] += len(want["reports"])
                    totals["errors"] += len(want["errors"])
                    totals["elements"] += sum(count_elements(t) for t in want["trees"])

        # The documented field query, and names of the empty root.
        path = make("fields.pcap", [("c", capture)], "--segment", "7")
        status, out, err = tshark.run(path, "-T", "fields", "-E", "occurrence=a", "-E", "aggregator=|",
                                      "-e", "korvane.report", "-Y", "korvane.report")
        found = [r for line in out.splitlines() for r in line.split("|")]
        want = [r.replace("\n", "\\n") for r in expected_reports(korvane, capture)]
        check(status == 0 and err == "" and found == want, f"-T fields -e korvane.report: {len(want)} reports")
        status, out, err = tshark.run(path, "-T", "fields", "-e", "korvane.path", "-E", "occurrence=a",
                                      "-Y", 'korvane.path == "1,20,4,1,5"')
        check(out.split() == ["1,20,4,1,5", "1,20,4,1,5"], 'korvane.path == "1,20,4,1,5" finds both changes')
        status, out, err = tshark.run(path, "-T", "fields", "-e", "korvane.kind", "-Y", 'korvane.kind == "keep-alive"')
        check(out.split() == ["keep-alive", "keep-alive"], "both 13-octet empty roots from the console are keep-alives")

        # The start sequence on another port, also when it comes in pieces;
        # "Decode As" with the heuristic off.
        want = expected_reports(korvane, capture)
        for segment, options in [(1, []), (64, []), (7, ["-o", "korvane.heuristic:FALSE", "-d", "tcp.port==7777,korvane"])]:
            path = make(f"port{segment}.pcap", [("c", capture)], "--segment", str(segment), "--port", "7777")
            status, out, err = tshark.run(path, "-T", "json", "--no-duplicate-keys", "-Y", "korvane", *options)
            reports = [r for m in dissected(out).get("console to partner", []) for r in m["reports"]]
            how = "Decode As" if options else "the heuristic"
            check(status == 0 and err == "" and reports == want,
                  f"port 7777, segments of {segment}: {how} finds the {len(want)} reports")

        # Truncated captures: a file broken off and frames cut short.
        whole = make("whole.pcap", [("c", capture)], "--segment", "64")
        size = os.path.getsize(whole)
        cut = make("cut.pcap", [("c", capture)], "--segment", "64", "--cut", str(size * 2 // 3))
        status, out, err = tshark.run(cut, "-T", "json", "--no-duplicate-keys", "-Y", "korvane")
        reports = [r for m in dissected(out).get("console to partner", []) for r in m["reports"]]
        check("cut short" in err and "Lua" not in err and 0 < len(reports) < len(want) and reports == want[:len(reports)],
              f"a capture broken off: the first {len(reports)} reports, no Lua error")
        short = make("snap.pcap", [("c", capture)], "--segment", "64", "--snaplen", "100")
        status, out, err = tshark.run(short, "-T", "json", "--no-duplicate-keys")
        check(status == 0 and err == "" and "korvane.gap.expert" in out,
              "frames cut short by the snapshot length: marked, no Lua error")

        large_messages(korvane, builder, tshark, make)
        overlapping_retransmission(korvane, builder, tshark, make)

        print(f"compared over {totals['captures']} captures: {totals['messages']} messages, "
              f"{totals['elements']} elements, {totals['reports']} reports, {totals['errors']} errors")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    if failures:
        print(f"{len(failures)} checks failed")
        return 1
    print("all checks passed")
    return 0


SHOWN = 10000  # elements and reports the tree shows of one message


def message_trees(output):
    """The korvane.message trees of tshark's JSON output, in order."""
    trees = []
    for packet in json.loads(output or "[]"):
        layer = packet["_source"]["layers"].get("korvane")
        if layer:
            trees += as_list(layer.get("korvane.message_tree"))
    return trees


def large_messages(korvane, b, tshark, make):
    """Messages of many elements, many reports and one long element: every
    element and report is counted and the tree shows a bounded number of
    them (Wireshark refuses a frame of more than a million tree items);
    the message after them is read."""
    elements = 30000
    many = b.START + bytes.fromhex("A203020105") * elements + b.END
    reports = 12000
    content = b"".join(b.integer(i) for i in range(reports))
    sequence = b.element(b.PRIVATE, 5, b"\x30" + b.length(len(content)) + content)
    listing = b.message([1, 2, 3, 4], [sequence])
    long_value = bytes(range(256)) * 4096  # 1 MiB
    inner = b"\x04" + b.length(len(long_value)) + long_value
    long_message = b.START + b.element(b.CONTEXT, 1, inner) + b.END
    last = b.message([1, 2, 3, 4], [b.parameter(5, b.integer(100))])
    octets = many + listing + long_message + last
    want = expected_reports(korvane, octets)
    path = make("large.pcap", [("c", octets)])
    status, out, err = tshark.run(path, "-T", "json", "--no-duplicate-keys", "-Y", "korvane")
    check(status == 0 and err == "", f"large messages: tshark without a warning {err.strip()[:300]}")
    trees = message_trees(out)
    if not check(len(trees) == 4, f"large messages: 4 messages read, not {len(trees)}"):
        return
    root = trees[0]["korvane.element_tree"]
    shown = as_list(root.get("korvane.element"))
    check(len(shown) == SHOWN and root.get("korvane.not_shown") == str(elements - SHOWN),
          f"{elements} elements: {SHOWN} shown, {elements - SHOWN} counted as not shown "
          f"(shown {len(shown)}, not shown {root.get('korvane.not_shown')})")
    found = [r.replace("\\n", "\n") for t in trees for r in as_list(t.get("korvane.report"))]
    check(found == want[:SHOWN] + want[reports:] and trees[1].get("korvane.not_shown") == str(reports - SHOWN),
          f"{reports} reports of one message: the first {SHOWN} shown, {reports - SHOWN} counted; "
          f"then the reports after it ({len(found)} shown of {len(want)})")
    value = trees[2]["korvane.element_tree"]["korvane.element_tree"].get("korvane.element.value", "")
    check(value == long_value.hex().upper(), f"a value of {len(long_value)} octets read whole")
    status, out, err = tshark.run(path, "-V", "-O", "korvane", "-Y", "korvane.message == 1")
    check(f"A-4294946012 Sequence ({elements} elements, indefinite)" in out and
          f"{elements - SHOWN} more elements not shown" in out and "Message 1: 150013 octets, 0 reports" in out,
          f"{elements} elements: the root counts all of them")
    status, out, err = tshark.run(path, "-V", "-O", "korvane", "-Y", "korvane.message == 2")
    check(f"{reports} reports" in out and f"{reports - SHOWN} more reports not shown" in out,
          f"{reports} reports: the message counts all of them")


def overlapping_retransmission(korvane, b, tshark, make):
    """A 42-octet message in segments 0-14, 0-14 again, 10-29 and 30-41, and
    one more message: both are read, with TCP's sequence analysis on (it
    does not hand the overlapping segment to the dissector), off, and with
    out-of-order reassembly (it hands over only the new octets)."""
    first = b.message([1, 2, 3, 4], [b.parameter(5, b.integer(5))])
    octets = first + b.message([1, 2, 3, 4], [b.parameter(5, b.integer(100))])
    want = expected_reports(korvane, octets)
    path = make("overlap.pcap", [("c", octets)], "--layout", "0-14,0-14,10-29,30-41")
    for options in [[], ["-o", "tcp.analyze_sequence_numbers:FALSE"], ["-o", "tcp.reassemble_out_of_order:TRUE"]]:
        status, out, err = tshark.run(path, "-T", "json", "--no-duplicate-keys", "-Y", "korvane", *options)
        reports = [r for m in dissected(out).get("console to partner", []) for r in m["reports"]]
        check(len(first) == 42 and status == 0 and err == "" and reports == want and "korvane.gap.expert" not in out,
              f"an overlapping retransmission {' '.join(options)}: both messages read, no gap ({reports})")


def expected_reports(korvane, octets):
    return [e["report"] + ("\n" if e["type"] == "text" else "")
            for e in korvane_json(korvane, "decode", octets) if "report" in e]


if __name__ == "__main__":
    sys.exit(main(sys.argv))
