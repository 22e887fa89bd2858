#!/bin/sh
# Builds the Windows packages on Debian, in one command:
#   build/windows/Korvane-<version>-setup.exe     the installer (NSIS)
#   build/windows/Korvane-<version>-portable.zip  the same files, unpacked anywhere
#
#   scripts/make_installer.sh
#
# Configures the `windows` preset (MinGW-w64 cross build) when needed and
# builds only what the packages hold: Korvane.exe, korvane-cli.exe, the
# partner SDK (SDK\: korvane_partner.h, the import library and
# korvane-partner.dll) and the README. Needs the packages of scripts/setup.sh
# (MinGW-w64, nsis).
# The packages also carry the Wireshark dissector wireshark/korvane.lua.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ ! -f build/windows/CMakeCache.txt ]; then
    cmake --preset windows
fi
cmake --build --preset windows --target installer portable
for package in build/windows/Korvane-*-setup.exe build/windows/Korvane-*-portable.zip; do
    if [ -f "$package" ]; then
        echo "make_installer: $root/$package"
    fi
done
