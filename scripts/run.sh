#!/bin/sh
# Runs the main job: builds the korvane program (run preset), starts the
# service `korvane serve demo` in the background, talks to it as its partner
# (every kind of command line, a keep-alive, the console capture in
# data/console_capture.bin, the Debug switch), shows the exchange and the
# service's log, and stops the service with SIGTERM. Fails unless every step
# worked and the service exited with status 0.
#
# With arguments, runs `korvane ARGS...` instead (for instance --help).
set -eu

cd "$(dirname "$0")/.."

./scripts/setup.sh run >/dev/null
cmake --preset run >/dev/null
cmake --build --preset run -j2 --target korvane
KORVANE=build/run/korvane

if [ $# -gt 0 ]; then
    exec "$KORVANE" "$@"
fi

CAPTURE=data/console_capture.bin
if [ ! -f "$CAPTURE" ]; then
    python3 scripts/make_capture.py "$CAPTURE"
fi

# A private runtime folder, so this run meets no other service or partner.
WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvane-run.XXXXXX")
KORVANE_RUNTIME_DIR="$WORK/endpoints"
export KORVANE_RUNTIME_DIR
LOG="$WORK/serve.log"
PID=""

cleanup() {
    if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then
        kill -TERM "$PID" 2>/dev/null || true
        wait "$PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "run: $*" >&2
    if [ -f "$LOG" ]; then
        echo "--- service log" >&2
        cat "$LOG" >&2
    fi
    exit 1
}

# wait_for_log TEXT: waits (up to 10 s) until the service's log holds TEXT.
wait_for_log() {
    tries=0
    until grep -q -- "$1" "$LOG" 2>/dev/null; do
        kill -0 "$PID" 2>/dev/null || fail "the service ended early"
        tries=$((tries + 1))
        [ "$tries" -le 100 ] || fail "no '$1' from the service within 10 s"
        sleep 0.1
    done
}

section() {
    printf '\n=== %s\n' "$*"
}

section "korvane serve demo (endpoints in $KORVANE_RUNTIME_DIR)"
"$KORVANE" serve demo 2>"$LOG" &
PID=$!
wait_for_log "korvane serve: ready"
[ -S "$KORVANE_RUNTIME_DIR/Korvane_demo" ] || fail "no endpoint Korvane_demo"
sed -n 1p "$LOG"

section "partner: one command line of every shape, a line without a value, a keep-alive"
# Lines beginning with '>' are what the partner sends; the others are the
# blocks the service sends back.
"$KORVANE" partner --service Korvane_demo --wait 100 \
    1,2,3,4,5,100 \
    1,2,3,4,5,Main~out \
    1,2,3,4,5,-1 \
    1,2,3,0,0,-1 \
    1,2,3,0,0,Ch~1 \
    1,2,3,9,0,-1 \
    1,2,3,4,0,Aux~2 \
    1,2,3,4,0,75 \
    1,2,3,4,5,-3 \
    --keep-alive ||
    fail "the command session failed"

section "partner: replay of the console capture $CAPTURE"
"$KORVANE" partner --service Korvane_demo --wait 100 --console "$CAPTURE" ||
    fail "the capture replay failed"

section "Debug switch on (SIGUSR1), one command, Debug switch off"
kill -USR1 "$PID"
wait_for_log "korvane serve: debug on"
"$KORVANE" partner --service Korvane_demo --wait 100 1,2,3,4,0,-1 ||
    fail "the command with traces failed"
kill -USR1 "$PID"
wait_for_log "korvane serve: debug off"

section "stop (SIGTERM)"
kill -TERM "$PID"
if wait "$PID"; then status=0; else status=$?; fi
PID=""
[ "$status" -eq 0 ] || fail "the service exited with status $status"
[ ! -e "$KORVANE_RUNTIME_DIR/Korvane_demo" ] || fail "the endpoint was left behind"

section "service log (standard error of korvane serve)"
cat "$LOG"

section "done: the service exited with status 0 and removed its endpoint"
