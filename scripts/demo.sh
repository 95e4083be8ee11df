#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The first command on a fresh Debian machine: installs what building needs (with apt-get,
# only what is missing), builds kysnap with the plug-in and arraysim and runs `kysnap demo`, a
# whole snapshot lifecycle against arraysim, which kysnap runs as a child process. Needs only
# bash and apt; `make demo` runs the same.
#
# $BUILD_DIR (default build) and $JOBS (default: every processor) shape the build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}

scripts/bootstrap.sh demo
# A first configuration leaves the tests out (they need GoogleTest); a build directory that
# already has them keeps them.
tests=()
if [ ! -f "$build/CMakeCache.txt" ]; then tests=(-DKYSNAP_TESTS=OFF); fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${tests[@]}"
cmake --build "$build" -j"$jobs" --target kysnap
"$build/tools/kysnap/kysnap" demo
