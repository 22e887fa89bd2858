#!/bin/sh
# Runs the main job: builds the korvane program (run preset), starts the
# service `korvane serve demo` in the background, talks to it as its partner
# (every kind of command line, a keep-alive, the console capture in
# data/console_capture.bin, the Debug switch), then runs the whole loop with
# the console simulator (`korvane console`) and the partner's TCP link
# (`korvane partner --console-link`): every shape to the console and back as
# reports, an announcement from a second client, a keep-alive round trip, a
# console drop and reconnect. Shows the exchange and the logs, and stops
# everything. Fails unless every step showed what it should and every
# process exited with status 0.
#
# With arguments, runs `korvane ARGS...` instead (for instance --help).
set -eu

cd "$(dirname "$0")/.."

./scripts/setup.sh run >/dev/null
cmake --preset run >/dev/null
cmake --build --preset run -j2 --target korvane korvane_manpage
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

# ---------------------------------------------------------------------------
# The whole loop: the console simulator, the service, the partner's link.
# ---------------------------------------------------------------------------
CONSOLE_LOG="$WORK/console.log"
LINK_LOG="$WORK/link.log"
STATE="$WORK/console-state.json"
FIFO="$WORK/link-input"
CONSOLE_PID=""
LINK_PID=""
SECOND_PID=""

loop_cleanup() {
    exec 3>&- 2>/dev/null || true
    for p in $LINK_PID $CONSOLE_PID $SECOND_PID; do
        if kill -0 "$p" 2>/dev/null; then
            kill -TERM "$p" 2>/dev/null || true
            wait "$p" 2>/dev/null || true
        fi
    done
}
trap 'loop_cleanup; cleanup' EXIT

loop_fail() {
    echo "run: $*" >&2
    for f in "$CONSOLE_LOG" "$LINK_LOG"; do
        [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
    done
    exit 1
}

# wait_in FILE TEXT [COUNT]: waits (up to 10 s) until FILE holds the line
# TEXT at least COUNT times (default 1).
wait_in() {
    tries=0
    until [ "$(grep -c -x -F -- "$2" "$1" 2>/dev/null || true)" -ge "${3:-1}" ]; do
        tries=$((tries + 1))
        [ "$tries" -le 100 ] || loop_fail "no '$2' (x${3:-1}) in $(basename "$1") within 10 s"
        sleep 0.1
    done
}

# count_in FILE TEXT: how often FILE holds the line TEXT.
count_in() {
    grep -c -x -F -- "$2" "$1" 2>/dev/null || true
}

# start_console ADDR: the simulator in the background, state kept in $STATE.
start_console() {
    "$KORVANE" console --listen "$1" --keepalive 2 --verbose --state "$STATE" --save \
        2>>"$CONSOLE_LOG" 3>&- &
    CONSOLE_PID=$!
    tries=0
    until [ "$(grep -c 'korvane console: listening on' "$CONSOLE_LOG" 2>/dev/null || true)" -ge "$2" ]; do
        kill -0 "$CONSOLE_PID" 2>/dev/null || loop_fail "the console ended early"
        tries=$((tries + 1))
        [ "$tries" -le 100 ] || loop_fail "the console did not listen within 10 s"
        sleep 0.1
    done
}

# send LINE REPORT...: types LINE into the link and waits until each REPORT
# line has come back once more than before.
send() {
    line=$1
    shift
    for r in "$@"; do
        eval "before_$(echo "$r" | cksum | cut -d' ' -f1)=$(count_in "$LINK_LOG" "report: $r")"
    done
    echo "$line" >&3
    for r in "$@"; do
        key=$(echo "$r" | cksum | cut -d' ' -f1)
        eval "n=\$before_$key"
        wait_in "$LINK_LOG" "report: $r" $((n + 1))
    done
    printf '  %-20s -> %s\n' "$line" "$*"
}

section "korvane console: the simulated console"
: >"$CONSOLE_LOG"
start_console 127.0.0.1:0 1
ADDR=$(sed -n 's/^korvane console: listening on \([^;]*\);.*/\1/p' "$CONSOLE_LOG" | head -n 1)
[ -n "$ADDR" ] || loop_fail "no listening address in the console's log"
echo "console listening on $ADDR (keep-alive every 2 s, state $STATE)"

section "partner --console-link $ADDR: every shape to the console, answers back as reports"
mkfifo "$FIFO"
"$KORVANE" partner --service Korvane_demo --console-link "$ADDR" --retries 20 - \
    <"$FIFO" >"$LINK_LOG" 2>&1 &
LINK_PID=$!
exec 3>"$FIFO"
wait_in "$LINK_LOG" "link: connected to $ADDR"
# Each line: the command, then the reports its answer gives. Four-level
# parameters come back as 1,2,3,0,4 (the host's report rule), and the service
# drops a report equal to the one before it.
send 1,2,3,4,5,100      "1,2,3,4,5,100"
send 1,2,3,4,6,Main~out "1,2,3,4,6,Main~out (text)"
send 1,2,3,4,5,-1       "1,2,3,4,5,100" "1,2,3,4,6,Main~out (text)"
send 1,2,3,0,0,Ch~1     "1,2,3,0,0,Ch~1 (text)"
send 1,2,3,9,0,-1       "1,2,3,4,5,100" "1,2,3,4,6,Main~out (text)"
send 1,2,3,4,0,75       "1,2,3,0,4,75"
send 1,2,3,4,0,Aux~2    "1,2,3,0,4,Aux~2 (text)"
send 1,2,3,0,0,-1       "1,2,3,0,0,Ch~1 (text)" "1,2,3,0,4,Aux~2 (text)" "1,2,3,4,5,100"

section "a second client changes a parameter: the announcement arrives as a report"
# Children must not hold the link's input open (fd 3).
"$KORVANE" serve second 2>"$WORK/second.log" 3>&- &
SECOND_PID=$!
tries=0
until grep -q "korvane serve: ready" "$WORK/second.log" 2>/dev/null; do
    tries=$((tries + 1)); [ "$tries" -le 100 ] || loop_fail "the second service did not start"
    sleep 0.1
done
before=$(count_in "$LINK_LOG" "report: 1,2,3,4,5,555")
"$KORVANE" partner --name TEST_RX2 --service Korvane_second --console-link "$ADDR" 1,2,3,4,5,555 3>&- |
    sed 's/^/  second: /' || loop_fail "the second client failed"
wait_in "$LINK_LOG" "report: 1,2,3,4,5,555" $((before + 1))
echo "  first link: report: 1,2,3,4,5,555 (announced)"
kill -TERM "$SECOND_PID"; wait "$SECOND_PID" || loop_fail "the second service did not stop cleanly"
SECOND_PID=""

section "keep-alive round trip"
before=$(count_in "$LINK_LOG" "keep-alive echoed")
wait_in "$LINK_LOG" "keep-alive echoed" $((before + 1))
wait_in "$CONSOLE_LOG" "korvane console: client 1: keep-alive came back"
echo "  console -> link -> service -> link -> console: keep-alive came back"

section "console drop and reconnect (the console restarts on $ADDR with its saved state)"
lost=$(grep -c '^link: lost' "$LINK_LOG" || true)
connected=$(count_in "$LINK_LOG" "link: connected to $ADDR")
kill -TERM "$CONSOLE_PID"
wait "$CONSOLE_PID" || loop_fail "the console did not stop cleanly"
CONSOLE_PID=""
grep -q '"path"' "$STATE" || loop_fail "the console saved no state"
tries=0
until [ "$(grep -c '^link: lost' "$LINK_LOG" || true)" -gt "$lost" ]; do
    tries=$((tries + 1)); [ "$tries" -le 100 ] || loop_fail "the link did not notice the drop"
    sleep 0.1
done
grep '^link: lost' "$LINK_LOG" | tail -n 1 | sed 's/^/  /'
start_console "$ADDR" 2
wait_in "$LINK_LOG" "link: connected to $ADDR" $((connected + 1))
echo "  link: connected to $ADDR again"
# The parameters saved before the drop, 555 from the second client among them.
send 1,2,3,9,0,-1       "1,2,3,0,4,Aux~2 (text)" "1,2,3,4,5,555" "1,2,3,4,6,Main~out (text)"

section "stop: link (end of input), console (SIGTERM)"
exec 3>&-
if wait "$LINK_PID"; then status=0; else status=$?; fi
LINK_PID=""
[ "$status" -eq 0 ] || loop_fail "the link exited with status $status"
kill -TERM "$CONSOLE_PID"
if wait "$CONSOLE_PID"; then status=0; else status=$?; fi
CONSOLE_PID=""
[ "$status" -eq 0 ] || loop_fail "the console exited with status $status"
echo "  link and console exited with status 0; $(grep -c '"path"' "$STATE") parameters saved"

section "link output (korvane partner --console-link)"
cat "$LINK_LOG"

section "console log (standard error of korvane console --verbose)"
cat "$CONSOLE_LOG"

section "stop (SIGTERM)"
kill -TERM "$PID"
if wait "$PID"; then status=0; else status=$?; fi
PID=""
[ "$status" -eq 0 ] || fail "the service exited with status $status"
[ ! -e "$KORVANE_RUNTIME_DIR/Korvane_demo" ] || fail "the endpoint was left behind"

section "service log (standard error of korvane serve)"
cat "$LOG"

section "done: the service exited with status 0 and removed its endpoint"
