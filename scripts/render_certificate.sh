#!/usr/bin/env bash
# The calibration certificate in a real browser engine: calibrates the sample bay (simulated, seed
# 1) with a vehicle, operator, station and the example station profile, writes its certificate,
# prints it to PDF with headless Chromium and checks that it fills one or two A4 pages; a PNG of
# each page and a screenshot of the page as a browser window shows it come along.
# Installs chromium and poppler-utils when missing (Debian, apt-get). Not part of ./test.sh: a
# browser is a large install that the build and the tests do not need.
#
#   scripts/render_certificate.sh [OUT_DIR] [--docs]
# OUT_DIR defaults to build/certificate; --docs also puts page 1 into docs/images/certificate.png.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

out=build/certificate
docs=0
for arg in "$@"; do
  case "$arg" in
    --docs) docs=1 ;;
    *) out=$arg ;;
  esac
done
mz_install_packages "${MZ_BUILD_PACKAGES[@]}" chromium poppler-utils

build=${BUILD_DIR:-build/test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target calibration-cli -j "$(nproc 2>/dev/null || echo 2)"
cli="$build/app/cli/calibration-cli"

rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
"$cli" simulate --out "$out/bay" --seed 1 >/dev/null
"$cli" run --config "$out/bay/Config.bin" --data "$out/bay" --out "$out/bay/out" \
  --vehicle "WVWZZZ1KZ8W000123" --operator "A. Meyer" --station "EOL-2" \
  --profile docs/simulated_station_profile.json --history "$out/history.sqlite" \
  --certificate "$out/certificate.html" | grep -E '^(Certificate|History|Profile)'

# Chromium refuses its sandbox to root; the page is our own file.
browser=(chromium --headless --no-sandbox --disable-gpu --hide-scrollbars)
"${browser[@]}" --no-pdf-header-footer --print-to-pdf="$out/certificate.pdf" "file://$out/certificate.html" \
  >"$out/browser.log" 2>&1 || { cat "$out/browser.log" >&2; exit 1; }
"${browser[@]}" --window-size=1000,1400 --screenshot="$out/certificate-screen.png" "file://$out/certificate.html" \
  >>"$out/browser.log" 2>&1 || { cat "$out/browser.log" >&2; exit 1; }
pdftoppm -r 80 -png "$out/certificate.pdf" "$out/page"

pages=$(pdfinfo "$out/certificate.pdf" | awk '/^Pages:/ {print $2}')
size=$(pdfinfo "$out/certificate.pdf" | awk -F': *' '/^Page size:/ {print $2}')
bytes=$(stat -c %s "$out/certificate.html")
echo "certificate.html: $bytes bytes; PDF: $pages page(s), $size"
[ "$docs" -eq 1 ] && cp "$out"/page-1.png docs/images/certificate.png && echo "docs/images/certificate.png updated"
ls "$out"/*.pdf "$out"/*.png
case "$size" in *A4*) ;; *) echo "render_certificate: the pages are not A4: $size" >&2; exit 1 ;; esac
if [ "$pages" -lt 1 ] || [ "$pages" -gt 2 ]; then
  echo "render_certificate: the certificate prints on $pages pages; it must fit on one or two" >&2
  exit 1
fi
echo "render_certificate: OK"
