#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The second command on a fresh Debian machine: installs what the tests need besides (with
# apt-get, only what is missing), builds everything and runs the whole suite with CTest.
# Needs only bash and apt; `make test` runs the same.
#
# $BUILD_DIR (default build), $JOBS (default: every processor) and $CTEST_FLAGS shape the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}
read -r -a ctest_flags <<<"${CTEST_FLAGS:---output-on-failure --timeout 300 -j$jobs}"

scripts/bootstrap.sh test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKYSNAP_TESTS=ON
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" "${ctest_flags[@]}"
