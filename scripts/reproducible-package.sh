#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks that the package is reproducible: builds it twice from scratch, once here and once in
# a copy of the tracked files at another place (so that a path of this machine held in the
# package would show), each in the build directory build-repro (or $1) of its tree, with the
# times taken from the changelog, and compares the two .deb files byte for byte. A compiler
# cache is used when there is one (the copy's build misses it: its paths differ); set
# CCACHE_DISABLE=1 to have both builds compile everything. Prints the .deb and "identical", or
# where they differ (exit 1).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-repro}
jobs=${JOBS:-$(nproc)}
scripts/bootstrap.sh package
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/changelog -STimestamp)
export SOURCE_DATE_EPOCH

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # A cache that rewrites paths below its base directory to relative ones would hand the
  # compiler other file names (__FILE__) than a build without it: no rewriting here.
  export CCACHE_BASEDIR=
fi

make_package() {
  rm -rf "$build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKYSNAP_TESTS=OFF "${launcher[@]}" >/dev/null
  cmake --build "$build" -j"$jobs" >/dev/null
  (cd "$build" && cpack -G DEB >/dev/null)
  ls "$PWD/$build"/kysnap_*.deb
}

copy=$(mktemp -d "${TMPDIR:-/tmp}/kysnap-repro.XXXXXX")
trap 'rm -rf "$copy"' EXIT
# The tracked files as they are now, committed or not.
git ls-files -z | xargs -0 cp --parents -t "$copy"

# The first package waits outside the build directory.
first="$build.first.deb"
mv "$(make_package)" "$first"
second=$(cd "$copy" && make_package)
if cmp "$first" "$second"; then
  echo "$(basename "$second"): two builds identical, in $PWD and in $copy ($(sha256sum <"$second" | cut -c1-16))"
  rm -f "$first"
else
  kept="$build.second.deb"
  cp "$second" "$kept"
  echo "$(basename "$second"): the two builds differ; diffoscope $first $kept shows where" >&2
  exit 1
fi
