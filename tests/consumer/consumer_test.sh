#!/bin/sh
# Builds tests/consumer against an installed Korvane under PREFIX, once
# through its CMake package and once through pkg-config, and runs both.
#
# The partner library's C consumer runs with KORVANE_RUNTIME_DIR at an empty
# folder of its own, where no service runs.
#
#   tests/consumer/consumer_test.sh PREFIX [CXX]
set -eu

[ $# -ge 1 ] || { echo "usage: consumer_test.sh PREFIX [CXX]" >&2; exit 2; }
PREFIX=$(cd "$1" && pwd)
CXX=${2:-${CXX:-c++}}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvane-consumer.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
CC=${CC:-$(echo "$CXX" | sed 's/g++\([^/]*\)$/gcc\1/; s/clang++\([^/]*\)$/clang\1/; s/c++$/cc/')}
mkdir -m 700 "$WORK/runtime"

step() { printf 'consumer: %s\n' "$*"; }

step "CMake: find_package(Korvane CONFIG) under $PREFIX"
cmake -S "$HERE" -B "$WORK/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_C_COMPILER="$CC" -DCMAKE_PREFIX_PATH="$PREFIX" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$WORK/cmake.log" 2>&1 ||
    { cat "$WORK/cmake.log"; exit 1; }
grep "Korvane " "$WORK/cmake.log" || true
cmake --build "$WORK/cmake" >"$WORK/build.log" 2>&1 || { cat "$WORK/build.log"; exit 1; }
"$WORK/cmake/consumer"
KORVANE_RUNTIME_DIR="$WORK/runtime" "$WORK/cmake/partner_consumer"
# The C++ example, where no service runs: exit 2 and the reason.
status=0
KORVANE_RUNTIME_DIR="$WORK/runtime" "$WORK/cmake/partner_example" 2>"$WORK/example.err" || status=$?
cat "$WORK/example.err"
[ "$status" -eq 2 ] && grep -q '^partner_example: ' "$WORK/example.err" ||
    { echo "consumer: partner_example without a service exited $status" >&2; exit 1; }

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

step "pkg-config: korvane-partner.pc under $PREFIX"
version=$(pkg-config --modversion korvane-partner)
flags=$(pkg-config --cflags --libs korvane-partner)
echo "pkg-config --cflags --libs korvane-partner: $flags"
# shellcheck disable=SC2086 # the flags are words
"$CC" -std=c99 -Wall -Wextra -Wpedantic -Werror "-DEXPECTED_VERSION=\"$version\"" \
    "$HERE/partner_consumer.c" -o "$WORK/partner-consumer-pc" $flags
LD_LIBRARY_PATH="$(pkg-config --variable=libdir korvane-partner)" \
    KORVANE_RUNTIME_DIR="$WORK/runtime" "$WORK/partner-consumer-pc"
step "all builds passed"
