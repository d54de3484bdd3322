#!/bin/bash
# install_test.sh BUILD_DIR CONSUMER_SOURCE WORK_DIR
set -euo pipefail
build=$1 consumer=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
for lib in mzview mzpattern mzcalib; do
  # The versioned library, its soname link and the development link.
  ls "$prefix"/lib*/lib$lib.so.*.*.* "$prefix"/lib*/lib$lib.so.0 "$prefix"/lib*/lib$lib.so >/dev/null
  test -f "$prefix"/lib*/pkgconfig/$lib.pc
done
test -f "$prefix/include/mz/mzview.h"
test -x "$prefix/bin/calibration-cli"
"$prefix/bin/calibration-cli" --help >/dev/null   # finds its libraries through its run path

libdir=$(dirname "$(ls "$prefix"/lib*/libmzview.so)")

echo "== find_package(mz)"
cmake -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake-configure.log"
cmake --build "$work/cmake-build" >"$work/cmake-build.log"
LD_LIBRARY_PATH=$libdir "$work/cmake-build/consumer"

echo "== pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -std=c11 -Wall -Wextra -Werror "$consumer/consumer.c" -o "$work/consumer-pc" \
  $(pkg-config --cflags --libs mzview mzpattern mzcalib)
LD_LIBRARY_PATH=$libdir "$work/consumer-pc"
