#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages one purpose needs, and only those that are missing, so that a
# machine that already has them is not touched (and needs no network). Purposes add up: each
# one names what it needs beyond the purposes it builds on.
#
#   scripts/bootstrap.sh PURPOSE...
#
#   demo      build the plug-in, kysnap and arraysim and run `kysnap demo` (the default)
#   test      demo, and what the test suite needs (GoogleTest)
#   package   test, and what `make package` and its checks need (dpkg tools, lintian)
#   valgrind  test, and Valgrind for the memcheck run of the end-to-end suite
#   fuzz      test, and clang with libFuzzer for the fuzz targets
#   vm        test, and QEMU with the guest's tools for the test on a real kernel
#   bench     test, and Google Benchmark, the JSON libraries it compares and gnuplot
#   mutate    test, and Python and Ninja for the mutation testing script (make mutate)
#
# Without root it installs through sudo.
set -euo pipefail

usage() {
  echo "usage: scripts/bootstrap.sh [demo|test|package|valgrind|fuzz|vm|bench|mutate]..." >&2
  exit 2
}

# A compiler, CMake and make, the libraries the plug-in, kysnap and arraysim link (and the
# header-only JSON library the tools read and write with), and the system CA store (the HTTPS
# client loads it even when a test gives its own CA).
demo=(
  g++ cmake make pkg-config
  libboost-dev libcurl4-openssl-dev libssl-dev libcpp-httplib-dev libre2-dev nlohmann-json3-dev
  ca-certificates
)
test=(libgtest-dev libgmock-dev googletest)
package=(dpkg-dev fakeroot file lintian devscripts)
valgrind=(valgrind)
fuzz=(clang libclang-rt-dev)
# The kernel package itself is fetched by the test with apt-get download and cached;
# e2fsprogs gives the guest mkfs.ext4 and fsck.ext4 for the data checks.
vm=(qemu-system-x86 busybox-static cpio dmsetup curl e2fsprogs)
bench=(libbenchmark-dev libsimdjson-dev gnuplot-nox python3)
mutate=(python3 ninja-build)

purposes=("$@")
if [ ${#purposes[@]} -eq 0 ]; then purposes=(demo); fi

packages=()
for purpose in "${purposes[@]}"; do
  case "$purpose" in
    demo) packages+=("${demo[@]}") ;;
    test) packages+=("${demo[@]}" "${test[@]}") ;;
    package) packages+=("${demo[@]}" "${test[@]}" "${package[@]}") ;;
    valgrind) packages+=("${demo[@]}" "${test[@]}" "${valgrind[@]}") ;;
    fuzz) packages+=("${demo[@]}" "${test[@]}" "${fuzz[@]}") ;;
    vm) packages+=("${demo[@]}" "${test[@]}" "${vm[@]}") ;;
    bench | --bench) packages+=("${demo[@]}" "${test[@]}" "${bench[@]}") ;;
    mutate) packages+=("${demo[@]}" "${test[@]}" "${mutate[@]}") ;;
    *) usage ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    case " ${missing[*]} " in *" $p "*) ;; *) missing+=("$p") ;; esac
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "bootstrap: not root and no sudo; as root run: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
