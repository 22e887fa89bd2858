#!/bin/sh
# Takes the pictures of Korvane.exe shown in the README, under a virtual X
# display:
#   docs/korvane-window.png  the restored host window, title text centred
#   docs/korvane-about.png   the About box over it
#
#   scripts/screenshots.sh [BUILD_DIR]   (default build/windows, with Korvane.exe built)
#
# Korvane.exe runs in a Wine virtual desktop (so that Wine draws the window
# frames itself) on an Xvfb display of its own and in a Wine prefix of its
# own (BUILD_DIR/screenshots-prefix). scripts/screenshot_pose.cpp, compiled
# here with the MinGW-w64 compiler, restores the window and opens the About
# box; ImageMagick's import takes each picture. The caption buttons need
# Wine's fonts (fonts-wine, see scripts/setup.sh).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/windows"}
build=$(cd "$build" && pwd)
exe="$build/Korvane.exe"
if [ ! -f "$exe" ]; then
    echo "screenshots: no $exe (cmake --preset windows && cmake --build --preset windows)" >&2
    exit 1
fi

# Everything below runs on a fresh X display.
if [ -z "${KORVANE_SHOTS_DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" \
        env KORVANE_SHOTS_DISPLAY=1 "$0" "$build"
fi

work="$build/screenshots"
prefix="$build/screenshots-prefix"
mkdir -p "$work" "$root/docs"

cxx=""
for candidate in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++; do
    if command -v "$candidate" >/dev/null 2>&1; then
        cxx=$candidate
        break
    fi
done
[ -n "$cxx" ] || { echo "screenshots: no MinGW-w64 compiler (run scripts/setup.sh windows)" >&2; exit 1; }
"$cxx" -std=c++20 -O2 -Wall -Wextra -static -o "$work/screenshot_pose.exe" "$root/scripts/screenshot_pose.cpp"

wine_run() { "$root/scripts/wine-run.sh" --prefix "$prefix" "$@"; }
wine_run --init
# The caption buttons are drawn with the Marlett font, which this Wine build
# does not find in its own folder: give the prefix a copy.
if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
else
    echo "screenshots: no Marlett font (fonts-wine); caption buttons show letters" >&2
fi

# Every program of this prefix runs in one virtual desktop of 640 x 150.
wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d KorvaneShots /f >/dev/null
wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v KorvaneShots /d 640x150 /f >/dev/null
name=Korvane_Demo
korvane_pid=""

stop_wine() {
    # Only this script's own prefix.
    for candidate in wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
        if command -v "$candidate" >/dev/null 2>&1; then
            WINEPREFIX="$prefix" "$candidate" -k 2>/dev/null || true
            break
        fi
    done
}
trap stop_wine EXIT

pose() {
    timeout 60 "$root/scripts/wine-run.sh" --prefix "$prefix" "$work/screenshot_pose.exe" "$1" "$name" ||
        { echo "screenshots: posing '$1' failed" >&2; exit 1; }
}

# shoot FILE: the virtual desktop, without metadata that changes per run.
shoot() {
    # Let the X server catch up with what Wine has drawn.
    sleep 1
    import -window root -crop 640x150+0+0 +repage -strip \
        -define png:exclude-chunks=date,time "$1"
    echo "screenshots: $1"
}

wine_run "$exe" Demo &
korvane_pid=$!

pose restore
shoot "$root/docs/korvane-window.png"
pose about
shoot "$root/docs/korvane-about.png"
pose exit
# The desktop process of the prefix would linger a while; end it.
stop_wine
wait "$korvane_pid" || true
