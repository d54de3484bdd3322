#!/usr/bin/env bash
# The whole simulated sweep, refined and literal (seeds 1-12 at 720x480 and 640x480, 1280x720
# seeds 1-4), printing the FIGURES lines the README's accuracy table is made from. Takes several
# minutes; ./test.sh runs the refined sweep and only two literal seeds per size.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/test}
cmake --build "$build" --target e2e_test calibration-cli
MZ_E2E_LITERAL_SWEEP=1 "$build/tests/e2e/e2e_test" --gtest_filter='Simulated/Bay.*' | grep -E '^FIGURES|FAILED'
