#!/bin/sh
# Builds tests/consumer against an installed Korvane under PREFIX, once
# through its CMake package and once through pkg-config, and runs both.
#
#   tests/consumer/consumer_test.sh PREFIX [CXX]
set -eu

[ $# -ge 1 ] || { echo "usage: consumer_test.sh PREFIX [CXX]" >&2; exit 2; }
PREFIX=$(cd "$1" && pwd)
CXX=${2:-${CXX:-c++}}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvane-consumer.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

step() { printf 'consumer: %s\n' "$*"; }

step "CMake: find_package(Korvane CONFIG) under $PREFIX"
cmake -S "$HERE" -B "$WORK/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_PREFIX_PATH="$PREFIX" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$WORK/cmake.log" 2>&1 ||
    { cat "$WORK/cmake.log"; exit 1; }
grep "Korvane " "$WORK/cmake.log" || true
cmake --build "$WORK/cmake" >"$WORK/build.log" 2>&1 || { cat "$WORK/build.log"; exit 1; }
"$WORK/cmake/consumer"

step "pkg-config: korvane.pc under $PREFIX"
PKG_CONFIG_PATH=$(find "$PREFIX" -name korvane.pc -path '*/pkgconfig/*' -exec dirname {} \; | head -n 1)
[ -n "$PKG_CONFIG_PATH" ] || { echo "consumer: no korvane.pc under $PREFIX" >&2; exit 1; }
export PKG_CONFIG_PATH
version=$(pkg-config --modversion korvane)
echo "pkg-config --modversion korvane: $version"
flags=$(pkg-config --cflags --libs korvane)
echo "pkg-config --cflags --libs korvane: $flags"
# shellcheck disable=SC2086 # the flags are words
"$CXX" -std=c++20 -O1 "-DEXPECTED_VERSION=\"$version\"" "$HERE/consumer.cpp" \
    -o "$WORK/consumer-pc" $flags
"$WORK/consumer-pc"
step "both builds passed"
