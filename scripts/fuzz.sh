#!/bin/bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and UBSan on) and runs each
# for SECONDS (default 60), starting from the seeds in fuzz/corpus/TARGET. The inputs it finds go
# to build/fuzz/corpus/TARGET (kept between runs, not in the repository); a crash leaves its
# input as build/fuzz/crash-*.
#   scripts/fuzz.sh [SECONDS] [TARGET...]      targets: picture opencv_storage config
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(picture opencv_storage config)
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMZ_SANITIZE=ON \
  -DMZ_BUILD_FUZZ=ON -DMZ_BUILD_TESTS=OFF -DMZ_BUILD_BENCH=OFF -DMZ_BUILD_GUI=OFF >/dev/null
for t in "${targets[@]}"; do
  cmake --build build/fuzz --target "fuzz_$t" -j 2
  mkdir -p "build/fuzz/corpus/$t"
  echo "== fuzz_$t for ${seconds}s"
  (cd build/fuzz && "./fuzz/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=4096 -max_len=65536 \
    "corpus/$t" "../../fuzz/corpus/$t")
done
