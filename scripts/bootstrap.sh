#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only when one is missing,
# so that a machine that already has everything is not touched (and needs no network).
#
#   scripts/bootstrap.sh           what the build and the tests need
#   scripts/bootstrap.sh --bench   that, and what bench/run needs besides: the JSON libraries the
#                                  benchmark compares jsonxx with, and gnuplot for the chart
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libboost-dev libcurl4-openssl-dev libssl-dev openssl
  libgtest-dev googletest libgmock-dev libbenchmark-dev
  libcpp-httplib-dev libre2-dev
  binutils
  # the mutation testing script (make mutate)
  python3 ninja-build
  dpkg-dev file gzip
  # the fuzz targets (clang with libFuzzer) and the memcheck run of the end-to-end suite
  clang libclang-rt-dev valgrind
  # the test on a real kernel (tests/vm): QEMU, the guest's shell and tools; the kernel
  # package itself is fetched by the test with apt-get download and cached in the build
  qemu-system-x86 busybox-static cpio dmsetup curl
)
if [ "${1:-}" = "--bench" ]; then
  packages+=(nlohmann-json3-dev libsimdjson-dev gnuplot-nox python3)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
