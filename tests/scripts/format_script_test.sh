#!/bin/bash
# format_script_test.sh SOURCE_DIR WORK_DIR
# The check must name exactly the tracked files that are not formatted and fail; after the fix it
# must pass; and a clang-format that cannot run must never read as "all formatted".
set -euo pipefail
source=$1 work=$2
rm -rf "$work"
mkdir -p "$work/scripts" "$work/sub dir"
cp "$source/scripts/format.sh" "$work/scripts/"
cp "$source/.clang-format" "$work/"
cd "$work"
git init -q .

printf 'int   loose ;\n' >"sub dir/loose.cpp"
printf 'int tight;\n' >tight.h
printf 'int   untracked ;\n' >untracked.cpp
git add scripts .clang-format "sub dir/loose.cpp" tight.h

fail() { echo "format_script_test: $*" >&2; exit 1; }

status=0
listed=$(scripts/format.sh --check 2>/dev/null) || status=$?
[ $status -eq 1 ] || fail "--check on an unformatted file: exit $status, not 1"
[ "$listed" = "sub dir/loose.cpp" ] || fail "--check listed '$listed', not the one unformatted file"

scripts/format.sh
[ "$(cat "sub dir/loose.cpp")" = "int loose;" ] || fail "the unformatted file was not formatted"
[ "$(cat untracked.cpp)" = "int   untracked ;" ] || fail "a file git does not track was formatted"
scripts/format.sh --check >/dev/null || fail "--check after formatting: exit $?"

printf 'NoSuchOption: 1\n' >.clang-format
status=0
scripts/format.sh --check >/dev/null 2>&1 || status=$?
[ $status -ne 0 ] && [ $status -ne 1 ] || fail "--check with a broken .clang-format: exit $status"
echo "format_script_test: passed"
