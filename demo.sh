#!/usr/bin/env bash
# The main job on the built-in sample bay: installs what is missing (Debian, apt-get), builds
# calibration-cli in Release, renders the simulated bay (fixed seed) into build/sample/, calibrates
# it, writes every output file and renders the bowl view. A second run reuses the build.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
# Only what the programs need: the tests' and benchmarks' packages come with test.sh.
mz_install_packages "${MZ_BUILD_PACKAGES[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
build=build/release
sample=build/sample
seed=1

echo "== build ($build, Release)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMZ_BUILD_TESTS=OFF -DMZ_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target calibration-cli calibration -j "$jobs"
cli="$build/app/cli/calibration-cli"

echo "== simulate the sample bay (seed $seed) into $sample"
rm -rf "$sample"
"$cli" simulate --out "$sample" --seed "$seed"

echo "== calibrate"
# The view engines are set up before any calibration, from zero world points: the matrix
# toolkit says so on standard output ("Singular Matrix!", folded into one line with its count).
# That line carries no news here.
set +e
"$cli" run --config "$sample/Config.bin" --data "$sample" --out "$sample/out" \
  --report "$sample/report.json" --snapshot "$sample/topview.bmp" | grep -v '^Singular Matrix!'
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
  echo "demo: calibration-cli run failed (exit $status); see $sample/report.json" >&2
  exit "$status"
fi

echo
echo "== bowl view (virtual camera behind and above the vehicle)"
"$cli" bowl --config "$sample/Config.bin" --data "$sample" --report "$sample/report.json" \
  --out "$sample/out" --picture "$sample/bowl.bmp"

echo
echo "== outputs"
echo "Pictures and Config.bin of the bay: $sample/image/, $sample/Config.bin (truth: $sample/truth.json)"
echo "Report:              $sample/report.json"
echo "Stitched top view:   $sample/topview.bmp"
echo "Bowl view:           $sample/bowl.bmp (other places: $cli bowl --help, --preset)"
echo "Output tree:         $sample/out/ ($(for d in Lut Osd Param; do
  printf '%s/ %s files  ' "$d" "$(find "$sample/out/$d" -type f 2>/dev/null | wc -l)"; done))"
echo "Check the files:     $cli inspect $sample/out/*/*.bin"
echo
echo "== the desktop program on the sample bay (needs a display)"
echo "$build/app/gui/calibration --config $sample/Config.bin --data $sample"
