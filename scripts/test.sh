#!/usr/bin/env bash
# Installs what the build needs, then builds and tests every configuration:
#   dev      Debug + AddressSanitizer/UBSan, CTest
#   release  Release, CTest
#   windows  MinGW-w64 cross build, CTest under Wine (inside xvfb-run)
#   fuzz     clang + libFuzzer, CTest: each fuzz target's smoke test, its seed
#            corpus then FUZZ_SECONDS of fuzzing (when unset, the build's
#            default, KORVANE_FUZZ_SMOKE_SECONDS in CMakeLists.txt)
# after checking that the sources are formatted (scripts/format.sh --check).
# Every phase runs even if an earlier one failed; the exit code is non-zero
# if anything failed. Logs go to build/logs/.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 1
ROOT=$(pwd)
JOBS=${JOBS:-2}
LOG_DIR="$ROOT/build/logs"

summary=()
tests_passed=0
tests_failed=0
failed_phases=0
script_start=$(date +%s)

say() { printf '\n==> %s\n' "$*"; }

record() { # record STATUS PHASE SECONDS [DETAIL]
    summary+=("$(printf '%-4s  %-22s %5ss  %s' "$1" "$2" "$3" "${4:-}")")
    if [ "$1" = FAIL ]; then
        failed_phases=$((failed_phases + 1))
    fi
}

# run_phase NAME COMMAND... : runs a command, times it and records the result.
run_phase() {
    local name=$1
    shift
    say "$name: $*"
    local start rc
    start=$(date +%s)
    "$@"
    rc=$?
    local took=$(($(date +%s) - start))
    if [ $rc -eq 0 ]; then
        record PASS "$name" "$took"
    else
        record FAIL "$name" "$took" "exit code $rc"
    fi
    return $rc
}

# count_ctest LOG : adds CTest's pass/fail totals from a log to the tally.
count_ctest() {
    local line failed total
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
    if [ -z "$line" ]; then
        tests_failed=$((tests_failed + 1))
        return
    fi
    failed=$(printf '%s\n' "$line" | sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    total=$(printf '%s\n' "$line" | sed -E 's/.*failed out of ([0-9]+).*/\1/')
    tests_failed=$((tests_failed + failed))
    tests_passed=$((tests_passed + total - failed))
}

run_ctest() { # run_ctest PRESET [WRAPPER...]
    local preset=$1
    shift
    local log="$LOG_DIR/ctest-$preset.log"
    "$@" ctest --preset "$preset" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    count_ctest "$log"
    return "$rc"
}

build_and_test() { # build_and_test PRESET [CTEST-WRAPPER...]
    local preset=$1
    shift
    run_phase "$preset/configure" cmake --preset "$preset" || { tests_failed=$((tests_failed + 1)); return; }
    run_phase "$preset/build" cmake --build --preset "$preset" -j"$JOBS" || { tests_failed=$((tests_failed + 1)); return; }
    run_phase "$preset/test" run_ctest "$preset" "$@"
}

mkdir -p "$LOG_DIR"

run_phase setup ./scripts/setup.sh all || tests_failed=$((tests_failed + 1))

# The sources as clang-format writes them (.clang-format).
if run_phase format ./scripts/format.sh --check; then
    tests_passed=$((tests_passed + 1))
else
    tests_failed=$((tests_failed + 1))
fi

build_and_test dev
build_and_test release

# Windows: prepare the Wine prefix once (timed separately), then run the
# tests under a virtual X display for anything that opens a window.
if run_phase windows/configure cmake --preset windows; then
    if run_phase windows/build cmake --build --preset windows -j"$JOBS"; then
        run_phase windows/wine-init ./scripts/wine-run.sh --prefix "$ROOT/build/windows/wineprefix" --init
        run_phase windows/test run_ctest windows xvfb-run -a
    else
        tests_failed=$((tests_failed + 1))
    fi
else
    tests_failed=$((tests_failed + 1))
fi

# Fuzzing: build every target, then run its smoke test through CTest.
if [ -n "${FUZZ_SECONDS:-}" ]; then
    fuzz_duration=(-DKORVANE_FUZZ_SMOKE_SECONDS="$FUZZ_SECONDS")
else
    fuzz_duration=(-UKORVANE_FUZZ_SMOKE_SECONDS)
fi
if run_phase fuzz/configure cmake --preset fuzz "${fuzz_duration[@]}"; then
    if run_phase fuzz/build cmake --build --preset fuzz -j"$JOBS"; then
        run_phase fuzz/test run_ctest fuzz
    else
        tests_failed=$((tests_failed + 1))
    fi
else
    tests_failed=$((tests_failed + 1))
fi

total=$(($(date +%s) - script_start))
say "summary (logs in build/logs/)"
printf '%s\n' "${summary[@]}"
printf 'total time: %ss\n' "$total"
if [ "$failed_phases" -eq 0 ]; then
    echo "result: all phases passed"
else
    echo "result: $failed_phases phase(s) FAILED"
fi
echo "tests: $tests_passed passed, $tests_failed failed"
[ "$failed_phases" -eq 0 ]
