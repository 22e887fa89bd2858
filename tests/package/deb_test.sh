#!/bin/sh
# Makes the Debian package of a build tree with CPack, unpacks it with
# dpkg-deb -x (nothing is installed on this machine), checks its name,
# control fields and contents, runs the unpacked tool, checks the systemd
# user unit (with systemd-analyze verify where it is available) and builds
# tests/consumer against the unpacked libraries (codec and partner).
#
#   tests/package/deb_test.sh BUILD_DIR VERSION [CXX]
set -eu

[ $# -ge 2 ] || { echo "usage: deb_test.sh BUILD_DIR VERSION [CXX]" >&2; exit 2; }
BUILD=$(cd "$1" && pwd)
VERSION=$2
CXX=${3:-${CXX:-c++}}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvane-deb.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

fail() { echo "package: FAILED: $*" >&2; exit 1; }

ARCH=$(dpkg --print-architecture)
DEB="$WORK/korvane_${VERSION}_${ARCH}.deb"
cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK" >"$WORK/cpack.log" 2>&1 ||
    { cat "$WORK/cpack.log"; fail "cpack -G DEB"; }
[ -f "$DEB" ] || { ls "$WORK"; fail "no $(basename "$DEB")"; }
echo "package: $(basename "$DEB"), $(wc -c <"$DEB") octets"

field() { dpkg-deb -f "$DEB" "$1"; }
[ "$(field Package)" = korvane ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$VERSION" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$ARCH" ] || fail "Architecture: $(field Architecture)"
field Depends | grep -q 'libc6' || fail "Depends lacks libc6: $(field Depends)"
echo "package: Package korvane, Version $VERSION, Architecture $ARCH, Depends $(field Depends)"

ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"
dpkg-deb -c "$DEB" >"$WORK/contents"
for f in usr/bin/korvane usr/share/man/man1/korvane.1.gz usr/lib/systemd/user/korvane@.service \
    usr/include/korvane/korvane_version.h usr/include/korvane/ember/tree/root.h \
    usr/lib/libkorvane-ember.a usr/lib/pkgconfig/korvane.pc \
    usr/lib/cmake/Korvane/KorvaneConfig.cmake usr/lib/cmake/Korvane/KorvaneConfigVersion.cmake \
    usr/lib/cmake/Korvane/KorvaneTargets.cmake \
    usr/include/korvane/korvane_partner.h usr/include/korvane/korvane_partner.hpp \
    "usr/lib/libkorvane-partner.so.$VERSION" \
    usr/lib/pkgconfig/korvane-partner.pc \
    usr/lib/python3/dist-packages/korvane/__init__.py usr/share/korvane/python/pyproject.toml; do
    [ -f "$ROOT/$f" ] || fail "$f is not in the package"
    grep -q " \./$f\$" "$WORK/contents" || fail "$f missing from dpkg-deb -c"
done
echo "package: tool, library, headers, CMake and pkg-config files, manual page and unit present"
# The dissector in Wireshark's global Lua plugin folder.
MULTIARCH=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
PLUGIN="usr/lib/$MULTIARCH/wireshark/plugins/korvane.lua"
[ -f "$ROOT/$PLUGIN" ] || fail "$PLUGIN is not in the package"
echo "package: $PLUGIN present"

soname=$(objdump -p "$ROOT/usr/lib/libkorvane-partner.so.$VERSION" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = "libkorvane-partner.so.${VERSION%%.*}" ] || fail "partner library soname: $soname"
[ -L "$ROOT/usr/lib/$soname" ] || fail "no link $soname"
echo "package: partner library with soname $soname"

# The unpacked tool.
TOOL="$ROOT/usr/bin/korvane"
"$TOOL" --help | grep -q '^usage: korvane' || fail "korvane --help"
out=$("$TOOL" encode 1,2,3,4,5,100) || fail "korvane encode"
[ "$out" = "$("$BUILD/korvane" encode 1,2,3,4,5,100)" ] || fail "unpacked and built tool differ"
echo "package: unpacked korvane encode 1,2,3,4,5,100: $out"
version=$("$TOOL" --version) || fail "korvane --version failed"
[ "$version" = "korvane $VERSION" ] || fail "korvane --version: $version"
echo "package: unpacked korvane --version: $version"

# The manual page.
gzip -dc "$ROOT/usr/share/man/man1/korvane.1.gz" >"$WORK/korvane.1"
grep -q "^\.TH KORVANE \"1\"" "$WORK/korvane.1" || fail "korvane.1 has no .TH line"
grep -q "$VERSION" "$WORK/korvane.1" || fail "korvane.1 does not carry $VERSION"
grep -q 'korvane decode' "$WORK/korvane.1" || fail "korvane.1 lacks the decode command"
if command -v man >/dev/null 2>&1; then
    MANWIDTH=80 man -l "$WORK/korvane.1" 2>/dev/null | grep -q 'korvane serve' ||
        fail "man -l cannot render korvane.1"
fi
echo "package: korvane.1.gz is the manual page of korvane $VERSION"

# The systemd user unit.
UNIT="$ROOT/usr/lib/systemd/user/korvane@.service"
for line in 'ExecStart=/usr/bin/korvane serve %i' 'KillSignal=SIGTERM' \
    'StandardError=journal' 'WantedBy=default.target'; do
    grep -qx "$line" "$UNIT" || fail "korvane@.service lacks '$line'"
done
if command -v systemd-analyze >/dev/null 2>&1; then
    # An instance of the template whose ExecStart names the unpacked tool
    # (verify checks that the command exists and is executable).
    mkdir -p "$WORK/units"
    sed "s|^ExecStart=/usr/bin/korvane |ExecStart=$TOOL |" "$UNIT" >"$WORK/units/korvane@demo.service"
    if ! systemd-analyze verify --man=no "$WORK/units/korvane@demo.service" >"$WORK/verify.log" 2>&1; then
        cat "$WORK/verify.log"
        fail "systemd-analyze verify korvane@demo.service"
    fi
    # Warnings (an unknown key, a bad signal name) leave the exit status 0.
    if [ -s "$WORK/verify.log" ]; then
        cat "$WORK/verify.log"
        fail "systemd-analyze verify warned about korvane@demo.service"
    fi
    echo "package: systemd-analyze verify korvane@demo.service passed"
else
    echo "package: systemd-analyze not available; unit checked by its lines only"
fi

"$(dirname "$HERE")/consumer/consumer_test.sh" "$ROOT/usr" "$CXX"
echo "package: all checks passed"
