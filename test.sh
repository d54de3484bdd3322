#!/usr/bin/env bash
# Builds everything and runs every test: once in a normal build, then the unit tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer. Installs missing build packages first (Debian).
# The long sweeps over many simulated bays (CTest label sweep) are left to scripts/sweep.sh.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh

# Formatting first: it needs clang-format alone and fails in seconds, before the long builds.
echo "== format"
mz_install_packages clang-format
scripts/format.sh --check || { echo "test.sh: the files above are not formatted: run scripts/format.sh" >&2; exit 1; }

mz_install_packages "${MZ_TEST_PACKAGES[@]}"

jobs=$(nproc 2>/dev/null || echo 2)

# Both builds keep line tables only (-g1): stack traces and sanitizer reports still name file and
# line, and full debug information would cost a third of the compile time. The test programs and
# the terminal program's commands are unity builds (MZ_UNITY_BUILD): their heavy headers
# (GoogleTest, CLI11, JSON) are compiled once per batch of files instead of once per file.
echo "== build (RelWithDebInfo, warnings are errors)"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMZ_WERROR=ON -DMZ_UNITY_BUILD=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
cmake --build build/test -j "$jobs"

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
# -O1, as the sanitizers advise: every check stays and the unit tests take minutes less than at -O0.
# Only what the unit label runs: no desktop program, benchmarks or end-to-end program.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMZ_WERROR=ON -DMZ_SANITIZE=ON -DMZ_UNITY_BUILD=ON \
  -DCMAKE_C_FLAGS_DEBUG="-g1 -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" -DMZ_BUILD_BENCH=OFF -DMZ_BUILD_GUI=OFF \
  -DMZ_BUILD_E2E=OFF
cmake --build build/asan -j "$jobs"

status=0
echo "== tests"
ctest --test-dir build/test -LE sweep --output-on-failure -j "$jobs" || status=1
echo "== unit tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -L unit --output-on-failure -j "$jobs" || status=1
exit $status
