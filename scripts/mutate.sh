#!/usr/bin/python3
"""Mutation check: does the native test suite catch deliberate faults?

    scripts/mutate.sh                 every mutant, one after the other
    scripts/mutate.sh M03 M11         only these
    scripts/mutate.sh --check         only look each pattern up (no build)
    scripts/mutate.sh --list          print the table

Each mutant replaces one exact text in one production file (the text must be
found there exactly once, else the script stops before changing anything),
builds the `release` preset incrementally (configuring it first if need be)
and runs `ctest --preset release` (stopping at the first failure).
A mutant is "caught" when a test fails or the suite runs past its time limit.
The file is written back after every mutant, on every way out (Ctrl-C and
SIGTERM included); a copy of the original waits in build/mutate/saved/ so that
even a killed run is undone by the next one. After the last mutant the
unchanged tree is built again. The table goes to stdout and to
build/mutate/results.md; the exit status is 1 if any mutant was not caught.

Run it at low priority on a shared machine: nice -n 10 scripts/mutate.sh.
Environment: MUTATE_JOBS (build and test jobs, default 2), MUTATE_EXCLUDE
(a CTest -E regex of tests left out, default: the browser test).
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import time

# One mutant a line: id, file, the exact text, its replacement, what it breaks.
# "\n" in a text stands for a line break; indentation is part of the text.
MUTANTS = [
    ("M01", "ember/tree/container.cpp", "uint8_t(inner + 2);", "uint8_t(inner + 1);", "a short container's outer length one octet short"),
    ("M02", "host/command_tree.cpp", "parameter->AddIntegerChild(kLeafClass, TAG_VALUE, record.value);", "parameter->AddIntegerChild(eeBerClass_ContextSpecific, TAG_VALUE, record.value);", "a command's integer value leaf in the wrong tag class"),
    ("M03", "host/dispatcher.cpp", "if (std::memcmp(text, console->lastReport, length + 1) == 0)", "if (false && std::memcmp(text, console->lastReport, length + 1) == 0)", "the repeated report is forwarded (de-duplication skipped)"),
    ("M04", "host/report_reader.cpp", "uint32_t numbers[5] = {m_slots[2], m_slots[3], m_slots[4], m_slots[5], number};", "uint32_t numbers[5] = {m_slots[3], m_slots[2], m_slots[4], m_slots[5], number};", "a text report's first two path slots swapped"),
    ("M05", "host/dispatcher.cpp", "if (length == KEEP_ALIVE_LENGTH) {", "if (length == 12) {", "a console block of 12 octets taken for the keep-alive"),
    ("M06", "partner/partner_session.cpp", "const size_t textLength = nul ? size_t(static_cast<const char*>(nul) - text) : size;", "const size_t textLength = nul ? size : size;", "a report's text read past its NUL, to the end of the field"),
    ("M07", "ember/ber/reader.cpp", "return length == 0 ? eeError_ZeroOuterLength : 0;", "return length == 0 ? eeError_UnexpectedEndOfContainer : 0;", "a zero outer length raised with the wrong error code"),
    ("M08", "ember/ber/reader.cpp", "            m_matchPosition = 0;\n            StopRun();", "            StopRun();", "after a message the stream reader does not wait for the next start sequence"),
    ("M09", "ember/ber/reader.cpp", "return depth >= CEmber_Reader::kMaxDepth ? eeError_NestingTooDeep : 0;", "return depth > CEmber_Reader::kMaxDepth ? eeError_NestingTooDeep : 0;", "the nesting limit one level too deep"),
    ("M10", "host/command_tree.cpp", "return p[4] ? 0 : 3;", "return 3;", "path 1,2,3,0,5 taken for a three-level command"),
    ("M11", "partner/console_framer.cpp", "i += taken - 1;", "i += taken;", "the console framer skips the octet after a scanned run"),
    ("M12", "partner/c_api/korvane_partner_c.cpp", "return KORVANE_SERVICE_GONE;", "return KORVANE_IO_ERROR;", "the C interface maps a failed send to the wrong status"),
    ("M13", "ember/ber/integer_codec.cpp", "const uint32_t part = i == 0 ? uint32_t(int32_t(int8_t(octet))) : uint32_t(octet);", "const uint32_t part = uint32_t(octet);", "a 32-bit Integer decoded without its sign"),
    ("M14", "ember/tree/set.cpp", "if (FindInIndex(child->GetTag()))\n                throw", "if (false && FindInIndex(child->GetTag()))\n                throw", "a set accepts a second child of the same tag"),
    ("M15", "ember/tree/node_factory.cpp", "if (item.GetContentLength() <= 4)\n            return maker.template Make<CEmber_Integer32>", "if (item.GetContentLength() < 4)\n            return maker.template Make<CEmber_Integer32>", "a four-octet Integer made a 64-bit leaf"),
    ("M16", "ember/ber/output_buffer.cpp", "        out[count / 2] = octets[count / 2];\n", "", "the middle octet of a three-octet write lost"),
    ("M17", "ember/ber/reader.cpp", "uint32_t skip = std::min(m_contentLeft - 1, uint32_t(end - at));", "uint32_t skip = std::min(m_contentLeft, uint32_t(end - at));", "the octet machine skips a value's last content octet too"),
    ("M18", "host/dispatcher.cpp", "if (length >= REPORT_MAX_LENGTH)", "if (length > REPORT_MAX_LENGTH)", "a report at the length limit forwarded"),
    ("M19", "host/command_parser.cpp", "value = int32_t(negative ? 0u - number : number);", "value = int32_t(number);", "a command's minus sign ignored"),
    ("M20", "protocol/backoff.cpp", "delay *= 2;", "delay *= 3;", "the reconnect back-off grows threefold"),
    ("M21", "ember/ber/reader.cpp", "if (++m_matchPosition == int32_t(sizeof kEmberStartSequence)) {", "if (++m_matchPosition == int32_t(sizeof kEmberStartSequence - 1)) {", "the start sequence matched one octet early"),
    ("M22", "platform/posix/message_wire.cpp", "Put(out, 40, frame.dwData, 8);", "Put(out, 40, frame.dwData & 0xFFFF, 8);", "the block kind lost on the POSIX message wire"),
    ("M23", "console/parameter_store.cpp", "if (position->second == value)", "if (false && position->second == value)", "the console simulator counts an unchanged value as a change"),
    ("M24", "host/host_state.cpp", "state.consoles.size() < kMaxPartnerConsoles", "state.consoles.size() <= kMaxPartnerConsoles", "one partner reader more than the limit"),
    ("M25", "protocol/hex_text.cpp", "return c - 'a' + 10;", "return c - 'a' + 11;", "lower-case hexadecimal digits read one too high"),
    ("M26", "ember/ber/node_checks.cpp", "if (parent.smallKeys & bit) [[unlikely]]", "if (false && (parent.smallKeys & bit))", "the node checks accept a second child with the same small tag"),
]

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build", "mutate")
SAVED = os.path.join(WORK, "saved")
JOBS = os.environ.get("MUTATE_JOBS", "2")
EXCLUDE = os.environ.get("MUTATE_EXCLUDE", "^view_browser$")

current_child = None


class Stop(Exception):
    pass


def on_signal(number, _frame):
    raise Stop(f"signal {number}")


def fail(message):
    print(f"mutate: {message}", file=sys.stderr)
    sys.exit(2)


def decode(text):
    return text.replace("\\n", "\n")


def read(path):
    with open(os.path.join(ROOT, path), "rb") as f:
        return f.read()


def write(path, data):
    with open(os.path.join(ROOT, path), "wb") as f:
        f.write(data)


def recover():
    """Puts back the originals a killed run left in build/mutate/saved/."""
    if not os.path.isdir(SAVED):
        return
    for dirpath, _dirs, files in os.walk(SAVED):
        for name in files:
            saved = os.path.join(dirpath, name)
            rel = os.path.relpath(saved, SAVED)
            shutil.copyfile(saved, os.path.join(ROOT, rel))
            print(f"mutate: restored {rel} from an interrupted run")
    shutil.rmtree(SAVED)


def check_table(mutants):
    """Every pattern found exactly once, in a file without local changes."""
    ids = [m[0] for m in MUTANTS]
    if len(set(ids)) != len(ids):
        fail("duplicate mutant ids in the table")
    problems = []
    for mid, path, find, _replace, _what in mutants:
        full = os.path.join(ROOT, path)
        if not os.path.isfile(full):
            problems.append(f"{mid}: {path} does not exist")
            continue
        count = read(path).decode("utf-8").count(decode(find))
        if count != 1:
            problems.append(f"{mid}: the text is found {count} times in {path}, not once: {find!r}")
    if problems:
        fail("the table does not fit the tree:\n  " + "\n  ".join(problems))


def run(command, log, timeout=None):
    """Runs a command in a process group of its own; (exit status, seconds).
    The status is None when it ran out of time (the group is then ended)."""
    global current_child
    start = time.monotonic()
    with open(log, "w") as out:
        current_child = subprocess.Popen(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT,
                                         start_new_session=True)
        try:
            status = current_child.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            stop_child()
            status = None
        finally:
            if current_child and current_child.poll() is None:
                stop_child()
            current_child = None
    return status, time.monotonic() - start


def stop_child():
    child = current_child
    if child is None or child.poll() is not None:
        return
    try:
        os.killpg(child.pid, signal.SIGTERM)
        child.wait(timeout=20)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        try:
            os.killpg(child.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        child.wait()


def configure(log):
    if os.path.isfile(os.path.join(ROOT, "build", "release", "CTestTestfile.cmake")):
        return
    status, _ = run(["cmake", "--preset", "release"], log)
    if status != 0:
        fail("cmake --preset release failed; see " + os.path.relpath(log, ROOT))


def build(log):
    return run(["cmake", "--build", "--preset", "release", "-j" + JOBS], log)


def test(log, timeout=None):
    return run(["ctest", "--preset", "release", "-j" + JOBS, "--stop-on-failure", "-E", EXCLUDE],
               log, timeout)


def first_failure(log):
    """The first test program that failed, and the first failed case in its
    output (CTest prints a failed program's output after its line)."""
    with open(log, errors="replace") as f:
        text = f.read()
    program = re.search(r"Test\s+#\d+: (\S+) \.*\s*\*+(Failed|Timeout|Exception)", text)
    if not program:
        return "(see log)"
    output = text[program.end():]
    following = re.search(r"^\s*(\d+/\d+ Test|Start\s+\d+:)", output, re.M)
    if following:
        output = output[:following.start()]
    case = re.search(r"\[  FAILED  \] (\S+)", output)
    return program.group(1) + (" " + case.group(1).rstrip(",") if case else "")


def main():
    args = sys.argv[1:]
    if "-h" in args or "--help" in args:
        print(__doc__)
        return 0
    if "--list" in args:
        for mid, path, find, replace, what in MUTANTS:
            print(f"{mid}  {path}: {what}\n      {find!r} -> {replace!r}")
        return 0
    only_check = "--check" in args
    wanted = [a for a in args if not a.startswith("--")]
    mutants = [m for m in MUTANTS if not wanted or m[0] in wanted]
    if wanted and len(mutants) != len(wanted):
        fail("unknown mutant id among: " + " ".join(wanted))

    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, on_signal)
    recover()
    check_table(mutants)
    if only_check:
        print(f"mutate: all {len(mutants)} patterns found once")
        return 0
    dirty = subprocess.run(["git", "status", "--porcelain", "--", *sorted({m[1] for m in mutants})],
                           cwd=ROOT, capture_output=True, text=True).stdout.strip()
    if dirty:
        fail("these files have changes of their own; commit or stash them first:\n" + dirty)

    os.makedirs(WORK, exist_ok=True)
    logs = os.path.join(WORK, "logs")
    os.makedirs(logs, exist_ok=True)
    results = []
    try:
        configure(os.path.join(logs, "configure.log"))
        status, _ = build(os.path.join(logs, "base-build.log"))
        if status != 0:
            fail("the unchanged tree does not build; see build/mutate/logs/base-build.log")
        status, base_seconds = test(os.path.join(logs, "base-test.log"))
        if status != 0:
            fail("the unchanged suite fails; see build/mutate/logs/base-test.log")
        limit = max(180.0, 3 * base_seconds)
        print(f"mutate: unchanged suite passes in {base_seconds:.0f} s; limit per mutant {limit:.0f} s")

        for mid, path, find, replace, what in mutants:
            original = read(path)
            mutated = original.decode("utf-8").replace(decode(find), decode(replace), 1)
            saved = os.path.join(SAVED, path)
            os.makedirs(os.path.dirname(saved), exist_ok=True)
            shutil.copyfile(os.path.join(ROOT, path), saved)
            try:
                write(path, mutated.encode("utf-8"))
                build_log = os.path.join(logs, f"{mid}-build.log")
                test_log = os.path.join(logs, f"{mid}-test.log")
                status, build_seconds = build(build_log)
                if status != 0:
                    verdict, by, seconds = "BUILD FAILED", "see " + os.path.relpath(build_log, ROOT), 0
                else:
                    status, seconds = test(test_log, limit)
                    if status is None:
                        # A test may have failed already while another one
                        # still waited on what the mutant never sends.
                        failed = first_failure(test_log)
                        verdict = "caught"
                        by = "suite ran out of time" if failed == "(see log)" else failed
                    elif status != 0:
                        verdict, by = "caught", first_failure(test_log)
                    else:
                        verdict, by = "NOT caught", ""
            finally:
                write(path, original)
                os.remove(saved)
            results.append((mid, path, what, verdict, by))
            print(f"mutate: {mid} {verdict:<10} {by} (build {build_seconds:.0f} s, tests {seconds:.0f} s)",
                  flush=True)
    except Stop as stop:
        print(f"mutate: stopped ({stop}); the tree is restored", file=sys.stderr)
        return 130
    finally:
        stop_child()
        recover()

    # The build directory as the unchanged tree gives it.
    build(os.path.join(logs, "final-build.log"))

    lines = ["| id | file | fault | result | caught by |", "|---|---|---|---|---|"]
    for mid, path, what, verdict, by in results:
        lines.append(f"| {mid} | {path} | {what} | {verdict} | {by} |")
    table = "\n".join(lines) + "\n"
    with open(os.path.join(WORK, "results.md"), "w") as f:
        f.write(table)
    print(table)
    missed = [r for r in results if r[3] != "caught"]
    print(f"mutate: {len(results) - len(missed)} of {len(results)} caught")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
