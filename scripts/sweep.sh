#!/usr/bin/env bash
# The long sweeps that ./test.sh leaves out (CTest label sweep): detection on 72 simulated bays
# (three sizes, twelve seeds, with and without noise) and calibration-cli end to end on every seed
# of the accuracy sweep; the realism levels are scripts/realism_sweep.sh's. About ten minutes on two
# cores. Prints the figures lines at the end.
#   scripts/sweep.sh [BUILD_DIR]     (default build/test, configured and built if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
mz_install_packages "${MZ_TEST_PACKAGES[@]}"
build=${1:-build/test}
jobs=$(nproc 2>/dev/null || echo 2)
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$jobs"
status=0
ctest --test-dir "$build" -L 'e2e|sweep' -E '^Realism/' --output-on-failure -j "$jobs" -V >"$build/sweep.log" 2>&1 || status=1
grep -E 'FIGURES|corners: median|Failed|FAILED' "$build/sweep.log" | sed -E 's/^[0-9]+: //' || true
grep -E 'tests passed|tests failed' "$build/sweep.log" || true
exit $status
