#!/usr/bin/env bash
# Formats the tracked C and C++ files with clang-format and the tree's .clang-format.
#
#   scripts/format.sh           formats every tracked .c, .h and .cpp file in place
#   scripts/format.sh --check   lists the files that are not formatted; exit status 1 if any
#
# The tree is formatted with clang-format 14 (Debian 12); other versions break some lines
# differently, so a check with another version may list files that are fine.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-clang-format}
check=0
case "${1:-}" in
    "") ;;
    --check) check=1 ;;
    *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac

if ! command -v "$clang_format" >/dev/null; then
    echo "format.sh: $clang_format not found (Debian: apt-get install clang-format)" >&2
    exit 2
fi

jobs=$(nproc 2>/dev/null || echo 2)
files() { git ls-files -z -- '*.c' '*.h' '*.cpp'; }

if [ $check -eq 0 ]; then
    files | xargs -0 -r -P "$jobs" -n 40 "$clang_format" -i --style=file
    exit 0
fi

# Each clang-format of the parallel batches writes its own report, so that no two names are
# interleaved; --dry-run names a file once per place that would change. A clang-format that fails
# (a file it cannot read, a broken .clang-format) must fail the check too, not pass it.
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
export clang_format reports
if ! files | xargs -0 -r -P "$jobs" -n 40 \
        bash -c '"$clang_format" --dry-run --style=file -- "$@" 2>"$(mktemp -p "$reports")"' _; then
    cat "$reports"/* >&2
    echo "format.sh: $clang_format failed" >&2
    exit 2
fi
unformatted=$(cat "$reports"/* |
    sed -n 's/^\(.*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' | sort -u)
if [ -n "$unformatted" ]; then
    echo "$unformatted"
    echo "format.sh: $(echo "$unformatted" | wc -l) file(s) not formatted; run scripts/format.sh" >&2
    exit 1
fi
