#!/bin/sh
# Installs the Debian packages a job needs, and only those:
#
#   scripts/setup.sh run       build and run the korvane tool (scripts/run.sh)
#   scripts/setup.sh test      the dev and release builds and their tests,
#                              packaging (CPack DEB) and the format check
#   scripts/setup.sh windows   the MinGW-w64 cross build, its tests under Wine
#                              and the installer
#   scripts/setup.sh fuzz      the clang libFuzzer build
#   scripts/setup.sh bench     the benchmarks, their profiles and plots
#   scripts/setup.sh wireshark tshark, for the tests of wireshark/korvane.lua
#   scripts/setup.sh all       every group above (scripts/test.sh)
#
# Several groups may be named at once; no group means all. Packages that are already installed
# are skipped, so a second run installs nothing.
set -eu

usage() {
    echo "usage: scripts/setup.sh run|test|windows|fuzz|bench|wireshark|all ..." >&2
    exit 2
}

# A C++ compiler, CMake and the generic libraries the tool is built from
# (Boost.Beast, header-only, serves `korvane view`); help2man for its manual page, which
# every build makes.
RUN_PACKAGES="
build-essential cmake ninja-build pkg-config python3
libcli11-dev libasio-dev nlohmann-json3-dev libboost-dev help2man gzip
"
# GoogleTest and Google Benchmark (the release preset builds the benchmark
# programs), jq for the JSON examples' tests, clang-format for
# scripts/format.sh, GNU time for the tool's peak-memory test; pytest,
# setuptools and venv for the Python package (python/) and its tests;
# headless Chromium, its driver and Selenium for the view's browser tests
# (and the screenshot in the README).
TEST_PACKAGES="
googletest libgtest-dev libgmock-dev libbenchmark-dev
jq clang-format-14 time
python3-pytest python3-setuptools python3-venv
chromium chromium-driver python3-selenium
"
# googletest: its sources are compiled with the cross compiler.
WINDOWS_PACKAGES="
googletest
g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-tools
wine wine64 fonts-wine xvfb xauth x11-apps imagemagick
nsis
"
FUZZ_PACKAGES="
clang libclang-rt-14-dev
"
BENCH_PACKAGES="
libbenchmark-dev valgrind python3-matplotlib
"
# tshark runs the Lua dissector in its tests (they are skipped without it).
WIRESHARK_PACKAGES="
tshark
"

[ $# -gt 0 ] || set -- all

PACKAGES=""
for group in "$@"; do
    case "$group" in
    run) PACKAGES="$PACKAGES $RUN_PACKAGES" ;;
    test) PACKAGES="$PACKAGES $RUN_PACKAGES $TEST_PACKAGES" ;;
    windows) PACKAGES="$PACKAGES $RUN_PACKAGES $WINDOWS_PACKAGES" ;;
    fuzz) PACKAGES="$PACKAGES $RUN_PACKAGES $FUZZ_PACKAGES" ;;
    bench) PACKAGES="$PACKAGES $RUN_PACKAGES $BENCH_PACKAGES" ;;
    wireshark) PACKAGES="$PACKAGES $RUN_PACKAGES $WIRESHARK_PACKAGES" ;;
    all)
        PACKAGES="$PACKAGES $RUN_PACKAGES $TEST_PACKAGES $WINDOWS_PACKAGES"
        PACKAGES="$PACKAGES $FUZZ_PACKAGES $BENCH_PACKAGES $WIRESHARK_PACKAGES"
        ;;
    *) usage ;;
    esac
done

missing=""
for p in $(printf '%s\n' $PACKAGES | sort -u); do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "setup ($*): all packages present"
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup ($*): installing$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
