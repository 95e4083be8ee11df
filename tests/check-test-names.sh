#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Fails when a CTest name holds what changes from run to run: a parameter printed as its raw
# bytes ("GetParam() = 24-byte object <...>", pointers among them) instead of its name.
#
#   check-test-names.sh CTEST BUILD_DIR
set -eu
names=$("$1" --test-dir "$2" -N)
if printf '%s\n' "$names" | grep -E 'GetParam|-byte object'; then
  echo "these CTest names change from run to run" >&2
  exit 1
fi
printf '%s\n' "$names" | tail -n 1
