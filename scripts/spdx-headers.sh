#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Gives every source file the project's licence identifier as its first line (after the "#!"
# line of a script, which has to stay first):
#   // SPDX-License-Identifier: Apache-2.0      C++ sources and headers
#   # SPDX-License-Identifier: Apache-2.0       CMake, make, shell, Python and gnuplot files
# Files that have it are left alone, so running it again changes nothing.
#
#   scripts/spdx-headers.sh [--check] [FILE...]
#
# Without FILEs it takes the source files git tracks. --check changes nothing: it lists the
# files that lack the line and exits 1 when there is one.
set -euo pipefail

check=0
if [ "${1:-}" = "--check" ]; then
  check=1
  shift
fi
case "${1:-}" in -*)
  echo "usage: scripts/spdx-headers.sh [--check] [FILE...]" >&2
  exit 2
  ;;
esac

readonly identifier="SPDX-License-Identifier: Apache-2.0"

# The comment leader for FILE, or nothing when FILE is not a source file.
leader() {
  case "${1##*/}" in
    *.cpp | *.h) echo "//" ;;
    *CMakeLists.txt | *.cmake | *Makefile | *.sh | *.py | *.gp) echo "#" ;;
    *.*) ;;
    *) if head -c 2 "$1" | grep -q '^#!'; then echo "#"; fi ;;
  esac
}

files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  cd "$(dirname "$0")/.."
  mapfile -t files < <(git ls-files)
fi

lacking=0
for file in "${files[@]}"; do
  [ -f "$file" ] && [ ! -L "$file" ] || continue
  comment=$(leader "$file")
  [ -n "$comment" ] || continue
  line="$comment $identifier"
  first=$(head -n 1 "$file")
  skip=0
  if [ "${first:0:2}" = "#!" ]; then
    skip=1
    first=$(sed -n 2p "$file")
  fi
  [ "$first" != "$line" ] || continue
  lacking=$((lacking + 1))
  if [ $check -eq 1 ]; then
    echo "$file"
    continue
  fi
  # The new text goes to a temporary file beside the old one, which it then replaces whole.
  temp=$(mktemp "$file.spdx.XXXXXX")
  {
    head -n "$skip" "$file"
    echo "$line"
    tail -n "+$((skip + 1))" "$file"
  } >"$temp"
  chmod --reference="$file" "$temp"
  mv -f "$temp" "$file"
done

if [ $check -eq 1 ] && [ $lacking -gt 0 ]; then
  echo "spdx-headers: $lacking file(s) lack \"$identifier\"" >&2
  exit 1
fi
