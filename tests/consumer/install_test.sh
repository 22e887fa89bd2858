#!/bin/sh
# `cmake --install` of a build tree into a temporary prefix: checks what is
# installed (tool, library, headers, CMake and pkg-config packages, manual
# page, systemd user unit, Wireshark dissector), runs the installed tool, then builds and runs
# tests/consumer against the prefix (consumer_test.sh).
#
#   tests/consumer/install_test.sh BUILD_DIR [CXX]
set -eu

[ $# -ge 1 ] || { echo "usage: install_test.sh BUILD_DIR [CXX]" >&2; exit 2; }
BUILD=$1
CXX=${2:-${CXX:-c++}}
HERE=$(cd "$(dirname "$0")" && pwd)
PREFIX=$(mktemp -d "${TMPDIR:-/tmp}/korvane-prefix.XXXXXX")
trap 'rm -rf "$PREFIX"' EXIT

fail() { echo "install: FAILED: $*" >&2; exit 1; }

cmake --install "$BUILD" --prefix "$PREFIX" >"$PREFIX.log" 2>&1 ||
    { cat "$PREFIX.log"; rm -f "$PREFIX.log"; fail "cmake --install"; }
rm -f "$PREFIX.log"

for f in bin/korvane include/korvane/korvane_version.h include/korvane/ember/tree/root.h \
    include/korvane/ember/tree/stream_reader.h share/man/man1/korvane.1.gz \
    lib/systemd/user/korvane@.service share/korvane/wireshark/korvane.lua; do
    [ -f "$PREFIX/$f" ] || fail "$f not installed"
    echo "installed: $f"
done
for pattern in 'libkorvane-ember.a' 'korvane.pc' 'libkorvane-partner.so.*.*' 'korvane-partner.pc' \
    'korvane_partner.h' 'KorvaneConfig.cmake' 'KorvaneConfigVersion.cmake' \
    'KorvaneTargets.cmake'; do
    found=$(find "$PREFIX" -name "$pattern" | head -n 1)
    [ -n "$found" ] || fail "$pattern not installed"
    echo "installed: ${found#"$PREFIX"/}"
done
if find "$PREFIX/include" -name '*.cpp' | grep -q .; then fail "sources installed as headers"; fi

grep -qx "ExecStart=$PREFIX/bin/korvane serve %i" "$PREFIX/lib/systemd/user/korvane@.service" ||
    fail "the unit does not start $PREFIX/bin/korvane"
gzip -dc "$PREFIX/share/man/man1/korvane.1.gz" | grep -q "^\.TH KORVANE \"1\"" ||
    fail "korvane.1.gz is no manual page"

version=$("$PREFIX/bin/korvane" --version) || fail "korvane --version failed"
echo "installed korvane --version: $version"
case "$version" in "korvane "[0-9]*.[0-9]*) ;; *) fail "korvane --version: $version" ;; esac
gzip -dc "$PREFIX/share/man/man1/korvane.1.gz" | grep -q "${version#korvane }" ||
    fail "the manual page does not carry version ${version#korvane }"
out=$("$PREFIX/bin/korvane" encode 1,2,3,4,5,100) || fail "the installed tool failed"
echo "installed korvane encode 1,2,3,4,5,100: $out"
[ "$out" = "$("$BUILD/korvane" encode 1,2,3,4,5,100)" ] || fail "installed and built tool differ"

"$HERE/consumer_test.sh" "$PREFIX" "$CXX"
echo "install: all checks passed"
