#!/usr/bin/env bash
# ThreadSanitizer run of the tests that start threads: the core workflow (the detection thread
# beside the caller's), the terminal program, the view engines (the top view builds its maps on
# two threads) and the simulator's renderer. A separate build in build/tsan.
#
#   scripts/tsan.sh [gtest filter]
#
# Exit status 0 when every test passed and ThreadSanitizer reported nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
mz_install_packages "${MZ_TEST_PACKAGES[@]}"

filter=${1:-*}
tests=(core_workflow_test cli_test views_test)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMZ_WERROR=ON -DMZ_TSAN=ON \
    -DMZ_BUILD_BENCH=OFF -DMZ_BUILD_GUI=OFF \
    ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER -DCMAKE_C_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} >/dev/null
cmake --build build/tsan -j "${MZ_JOBS:-2}" $(printf -- '--target %s ' "${tests[@]}")

status=0
rm -rf build/tsan/logs && mkdir -p build/tsan/logs
for t in "${tests[@]}"; do
    binary=$(find build/tsan/tests -type f -name "$t" -perm -u+x | head -n 1)
    echo "== $t"
    # halt_on_error=0: every race of a run is reported, not only the first.
    if ! TSAN_OPTIONS="halt_on_error=0 second_deadlock_stack=1 log_path=build/tsan/logs/$t" \
        "$binary" --gtest_filter="$filter" --gtest_brief=1; then
        status=1
    fi
    if compgen -G "build/tsan/logs/$t.*" >/dev/null; then
        echo "tsan.sh: ThreadSanitizer reported in $t:" >&2
        grep -h -A3 'WARNING: ThreadSanitizer' build/tsan/logs/$t.* | head -n 40 >&2
        status=1
    fi
done
[ $status -eq 0 ] && echo "== ThreadSanitizer: no reports"
exit $status
