#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks that the package is reproducible: builds it twice from scratch in the same build
# directory (default build-repro, or $1), with the times taken from the changelog, and compares
# the two .deb files byte for byte. A compiler cache is used when there is one; set
# CCACHE_DISABLE=1 to have both builds compile everything. Prints the .deb and "identical", or where they differ (exit 1).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-repro}
jobs=${JOBS:-$(nproc)}
scripts/bootstrap.sh package
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/changelog -STimestamp)
export SOURCE_DATE_EPOCH

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

make_package() {
  rm -rf "$build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKYSNAP_TESTS=OFF "${launcher[@]}" >/dev/null
  cmake --build "$build" -j"$jobs" >/dev/null
  (cd "$build" && cpack -G DEB >/dev/null)
  ls "$build"/kysnap_*.deb
}

# The first package waits outside the build directory, which the second build starts without.
first="$build.first.deb"
mv "$(make_package)" "$first"
second=$(make_package)
if cmp "$first" "$second"; then
  echo "$(basename "$second"): two builds identical ($(sha256sum <"$second" | cut -c1-16))"
  rm -f "$first"
else
  echo "$(basename "$second"): the two builds differ; diffoscope $first $second shows where" >&2
  exit 1
fi
