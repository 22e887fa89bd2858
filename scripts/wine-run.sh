#!/bin/sh
# Runs a Windows program under Wine and exits with the program's exit code.
#
#   scripts/wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]
#   scripts/wine-run.sh [--prefix DIR] --init
#   scripts/wine-run.sh [--prefix DIR] --keep-server
#
# The Wine prefix defaults to build/windows/wineprefix. It is created on
# first use (wineboot -i); a lock makes parallel callers wait for that
# instead of racing. --init only prepares the prefix.
#
# Wine's server ends a few seconds after its last program, and a program
# that starts while it is ending fails with "recvmsg: Connection reset by
# peer". A test run that starts many programs one after another therefore
# starts the server first with --keep-server (the prefix prepared too): it
# stays until a minute after its last program ended.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${KORVANE_WINEPREFIX:-"$root/build/windows/wineprefix"}
init_only=0
server=""

while [ $# -gt 0 ]; do
    case "$1" in
        --prefix) prefix=$2; shift 2 ;;
        --init) init_only=1; shift ;;
        --keep-server) init_only=1; server=keep; shift ;;
        --) shift; break ;;
        *) break ;;
    esac
done

if [ "$init_only" -eq 0 ] && [ $# -eq 0 ]; then
    echo "usage: $0 [--prefix DIR] PROGRAM.exe [ARGS...] | [--prefix DIR] --init | --keep-server" >&2
    exit 2
fi

# A 64-bit loader; Debian keeps wine64 outside PATH.
wine=""
for candidate in wine64 /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64 wine; do
    if command -v "$candidate" >/dev/null 2>&1; then
        wine=$(command -v "$candidate")
        break
    fi
done
if [ -z "$wine" ]; then
    echo "wine-run: no wine64/wine found (run scripts/setup.sh windows)" >&2
    exit 127
fi
wineserver=""
for candidate in wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
    if command -v "$candidate" >/dev/null 2>&1; then
        wineserver=$(command -v "$candidate")
        break
    fi
done

mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")

WINEPREFIX=$prefix
WINEDEBUG=-all
WINEARCH=win64
WINELOADER=$wine
export WINEPREFIX WINEDEBUG WINEARCH WINELOADER
if [ -n "$wineserver" ]; then
    WINESERVER=$wineserver
    export WINESERVER
fi

marker="$prefix/.korvane-ready"
if [ ! -f "$marker" ]; then
    (
        flock 9
        if [ ! -f "$marker" ]; then
            echo "wine-run: initialising Wine prefix $prefix (first run only)" >&2
            rm -rf "$prefix"
            # No Mono/Gecko installers: nothing here needs .NET or a browser.
            WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1 || {
                echo "wine-run: wineboot failed" >&2
                exit 1
            }
            if [ -n "$wineserver" ]; then
                "$wineserver" -w
            fi
            touch "$marker"
        fi
    ) 9>"$prefix.lock"
fi

if [ -n "$server" ] && [ -z "$wineserver" ]; then
    echo "wine-run: no wineserver found (run scripts/setup.sh windows)" >&2
    exit 127
fi
if [ "$server" = keep ]; then
    # Forks into the background; refuses quietly when a server already
    # runs for this prefix.
    "$wineserver" -p60 </dev/null >/dev/null 2>&1 || true
    exit 0
fi

if [ "$init_only" -eq 1 ]; then
    exit 0
fi

# The program takes this process's place, so that a signal sent to it (a
# test stopping what it started) reaches the program.
exec "$wine" "$@"
