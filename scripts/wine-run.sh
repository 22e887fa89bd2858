#!/bin/sh
# Runs a Windows program under Wine and exits with the program's exit code.
#
#   scripts/wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]
#   scripts/wine-run.sh [--prefix DIR] --init
#
# The Wine prefix defaults to build/windows/wineprefix. It is created on
# first use (wineboot -i); a lock makes parallel callers wait for that
# instead of racing. --init only prepares the prefix.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${KORVANE_WINEPREFIX:-"$root/build/windows/wineprefix"}
init_only=0

while [ $# -gt 0 ]; do
    case "$1" in
        --prefix) prefix=$2; shift 2 ;;
        --init) init_only=1; shift ;;
        --) shift; break ;;
        *) break ;;
    esac
done

if [ "$init_only" -eq 0 ] && [ $# -eq 0 ]; then
    echo "usage: $0 [--prefix DIR] PROGRAM.exe [ARGS...] | [--prefix DIR] --init" >&2
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

if [ "$init_only" -eq 1 ]; then
    exit 0
fi

# The program takes this process's place, so that a signal sent to it (a
# test stopping what it started) reaches the program.
exec "$wine" "$@"
