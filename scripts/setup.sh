#!/bin/sh
# Installs everything the build, the tests, the benchmarks and the fuzzers need
# on a Debian machine (valgrind for the profiles in docs/PERFORMANCE.md).
# Packages that are already installed are skipped.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config
googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
clang libclang-rt-14-dev
g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-tools
wine wine64 fonts-wine xvfb xauth x11-apps imagemagick
python3 valgrind
libasio-dev nlohmann-json3-dev
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "setup: all packages present"
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
