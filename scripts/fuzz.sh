#!/usr/bin/env bash
# Coverage-guided fuzzing of the input readers (libFuzzer, with AddressSanitizer and UBSan).
#
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]   build and fuzz one target
#   scripts/fuzz.sh list                                     the targets
#   scripts/fuzz.sh seeds                                    regenerate the seeds of fuzz/corpus made by
#                                                            fuzz/seed_maker.cpp
#   scripts/fuzz.sh campaign [TARGET...]                     every target (or those named) in turn, each
#                                                            until 10 million executions or one hour
#
# The clang build lives in build/fuzz; a target's growing corpus in build/fuzz/corpus/TARGET (seeded
# from fuzz/corpus/TARGET), what it finds in build/fuzz/findings/TARGET. A finding belongs under
# tests/fuzz/TARGET once it is fixed: ./test.sh replays those files and the seed corpora.
# One fuzzing process at a time (-jobs is not used): the machine is shared.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

targets=(picture opencv_storage config config_bin config_load config_json bitmap flash_data lens_text pattern detect views multicalib cli survey)

usage() {
    sed -n '4,9p' "$0" | sed 's/^# //'
    exit 2
}

[ $# -ge 1 ] || usage
jobs=2

case "$1" in
list)
    printf '%s\n' "${targets[@]}"
    exit 0
    ;;
seeds)
    mz_install_packages "${MZ_TEST_PACKAGES[@]}"
    cmake -S . -B build/dev -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMZ_WERROR=ON >/dev/null
    cmake --build build/dev -j "$jobs" --target mz_fuzz_seeds
    # Generated seeds are rewritten; seeds written by hand stay.
    build/dev/fuzz/mz_fuzz_seeds fuzz/corpus
    du -s --apparent-size --block-size=1K fuzz/corpus/* fuzz/corpus
    exit 0
    ;;
esac

if [ "$1" = campaign ]; then
    shift
    [ $# -gt 0 ] || set -- "${targets[@]}"
    status=0
    for t in "$@"; do
        "$0" "$t" "${MZ_FUZZ_SECONDS:-3600}" -runs="${MZ_FUZZ_RUNS:-10000000}" || status=1
    done
    exit $status
fi

[ $# -ge 2 ] || usage
target=$1
seconds=$2
shift 2
if ! printf '%s\n' "${targets[@]}" | grep -qx -- "$target"; then
    echo "fuzz.sh: unknown target \"$target\"; one of: ${targets[*]}" >&2
    exit 2
fi
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
    echo "fuzz.sh: SECONDS must be a positive whole number, not \"$seconds\"" >&2
    exit 2
fi

mz_install_packages "${MZ_TEST_PACKAGES[@]}" "${MZ_FUZZ_PACKAGES[@]}"
cmake -S . -B build/fuzz -G Ninja ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER -DCMAKE_C_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DMZ_BUILD_FUZZ=ON -DMZ_SANITIZE=ON -DMZ_BUILD_TESTS=OFF -DMZ_BUILD_BENCH=OFF -DMZ_BUILD_GUI=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target "fuzz_$target"

corpus=build/fuzz/corpus/$target
findings=build/fuzz/findings/$target
mkdir -p "$corpus" "$findings"
options=(-max_total_time="$seconds" -artifact_prefix="$findings/" -print_final_stats=1 -rss_limit_mb=2048 -malloc_limit_mb=1024
    -timeout=10 -close_fd_mask=1)
[ -f "fuzz/dict/$target.dict" ] && options+=(-dict="fuzz/dict/$target.dict")

log=build/fuzz/logs/$target.log
mkdir -p build/fuzz/logs
echo "== fuzzing $target for $seconds s (corpus $corpus, findings $findings, log $log)"
status=0
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "build/fuzz/fuzz/fuzz_$target" "${options[@]}" "$@" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
# The last status line (executions, edges covered, corpus) and the final figures.
grep -E '^#[0-9]+' "$log" | tail -n 1 || true
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
if [ $status -ne 0 ]; then
    echo "fuzz.sh: $target stopped with status $status; the input is in $findings, the report in $log" >&2
    grep -E 'ERROR|SUMMARY|runtime error' "$log" | head -n 5 >&2 || true
fi
exit $status
