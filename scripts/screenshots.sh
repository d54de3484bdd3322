#!/usr/bin/env bash
# Pictures for the README: the gui test drives the windows on a simulated bay (offscreen on a
# 1920 x 1080 screen, no display needed) and saves them into docs/images/; calibration-cli renders
# the sample bay's bowl views, converted to PNG.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
mz_install_packages "${MZ_TEST_PACKAGES[@]}" python3

build=${BUILD_DIR:-build/test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target gui_test calibration-cli -j "$(nproc 2>/dev/null || echo 2)"
mkdir -p docs/images
# A screen of an operator's size: the preview takes the size of the view it shows.
MZ_SCREENSHOT_DIR="$PWD/docs/images" QT_QPA_PLATFORM="offscreen:configfile=$PWD/scripts/offscreen_screen.json" \
  "$build/tests/gui/gui_test" wholeCalibrationWithTheMouse lostTriangleIsPlacedByHand | grep -vx 'Singular Matrix!' | grep -E 'PASS|FAIL|QINFO' || true

cli="$build/app/cli/calibration-cli"
bay=$(mktemp -d)
trap 'rm -rf "$bay"' EXIT
"$cli" simulate --out "$bay" --seed 1 >/dev/null
"$cli" run --config "$bay/Config.bin" --data "$bay" --out "$bay/out" --report "$bay/report.json" --no-history >/dev/null
for preset in rear-left top; do
  "$cli" bowl --config "$bay/Config.bin" --data "$bay" --report "$bay/report.json" --out "$bay/out" \
    --preset "$preset" --size 800x450 --no-tables --picture "$bay/bowl.bmp" >/dev/null
  python3 scripts/bmp_to_png.py "$bay/bowl.bmp" "docs/images/bowl-$preset.png"
done
ls -l docs/images/*.png
