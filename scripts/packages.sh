# Package lists and the installer shared by test.sh and demo.sh (Debian 12).

# What the programs need to build (demo.sh: tests and benchmarks off).
MZ_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config nlohmann-json3-dev libcli11-dev libpng-dev libjpeg-dev
  libyaml-cpp-dev libtinyxml2-dev libceres-dev libeigen3-dev qt6-base-dev libsqlite3-dev libssl-dev
  libpq-dev zlib1g-dev)

# Added by the tests and benchmarks (test.sh and the other scripts). OpenCV alone brings some 280
# packages of its own, for the side-by-side benchmark bench/bench_views_opencv.cpp only.
MZ_TEST_PACKAGES=("${MZ_BUILD_PACKAGES[@]}" clang-format libgtest-dev libgmock-dev libbenchmark-dev
  libopencv-dev)

# Fuzzing (scripts/fuzz.sh): clang with its libFuzzer and sanitizer runtimes, of the same version.
MZ_FUZZ_PACKAGES=(clang libclang-rt-dev llvm)

# Installs, with apt-get, the packages of the list that are not installed yet.
mz_install_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}
