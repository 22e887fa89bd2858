#!/bin/sh
# Formats the C++ sources with clang-format 14 and the repository's
# .clang-format:
#
#   scripts/format.sh            rewrite every tracked *.cpp and *.h in place
#   scripts/format.sh --check    change nothing; list the files clang-format
#                                would change and exit 1 if there are any
#   scripts/format.sh [--check] FILE...   only those files
#
# CLANG_FORMAT names another clang-format program (default clang-format-14,
# else clang-format).
set -eu

cd "$(dirname "$0")/.."

check=0
if [ "${1:-}" = "--check" ]; then
    check=1
    shift
fi
case "${1:-}" in
-*)
    echo "usage: scripts/format.sh [--check] [FILE...]" >&2
    exit 2
    ;;
esac

CLANG_FORMAT=${CLANG_FORMAT:-}
if [ -z "$CLANG_FORMAT" ]; then
    if command -v clang-format-14 >/dev/null 2>&1; then
        CLANG_FORMAT=clang-format-14
    elif command -v clang-format >/dev/null 2>&1; then
        CLANG_FORMAT=clang-format
    else
        echo "format: no clang-format (scripts/setup.sh test installs clang-format-14)" >&2
        exit 2
    fi
fi

if [ $# -eq 0 ]; then
    set -- $(git ls-files '*.cpp' '*.h')
fi

if [ "$check" -eq 0 ]; then
    "$CLANG_FORMAT" -i --style=file "$@"
    echo "format: $# files formatted"
    exit 0
fi

bad=0
for f in "$@"; do
    if ! "$CLANG_FORMAT" --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then
        echo "format: $f is not formatted (run scripts/format.sh $f)"
        bad=$((bad + 1))
    fi
done
if [ "$bad" -ne 0 ]; then
    echo "format: $bad of $# files need formatting"
    exit 1
fi
echo "format: all $# files formatted"
