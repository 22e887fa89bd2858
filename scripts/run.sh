#!/bin/sh
# Runs the main job: builds the korvane command-line service in the release
# configuration and starts it. Arguments are passed to korvane; without any,
# it shows its usage.
set -eu

cd "$(dirname "$0")/.."

./scripts/setup.sh >/dev/null
cmake --preset release >/dev/null

if ! ls tools/korvane/*.cpp >/dev/null 2>&1; then
    echo "run: no korvane program yet (tools/korvane/ has no sources)" >&2
    exit 1
fi
cmake --build --preset release -j2 --target korvane

if [ $# -eq 0 ]; then
    set -- --help
fi
exec build/release/korvane "$@"
