#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# scripts/spdx-headers.sh on a scratch copy of each kind of file: the line lands first (after a
# "#!" line), in the file's comment form, once however often it runs; --check finds what lacks
# it and changes nothing; data files are left alone.
#
#   spdx-headers-test.sh SCRIPT
set -uo pipefail
script=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# name | content (\n escapes) | expected first lines afterwards
cases=(
  "a.cpp|int x;\n|// SPDX-License-Identifier: Apache-2.0\nint x;"
  "sub/b.h|#pragma once\n|// SPDX-License-Identifier: Apache-2.0\n#pragma once"
  "CMakeLists.txt|add_subdirectory(x)\n|# SPDX-License-Identifier: Apache-2.0\nadd_subdirectory(x)"
  "tool.sh|#!/bin/sh\necho hi\n|#!/bin/sh\n# SPDX-License-Identifier: Apache-2.0\necho hi"
  ".ci/run|#!/usr/bin/env bash\nmake test\n|#!/usr/bin/env bash\n# SPDX-License-Identifier: Apache-2.0\nmake test"
  "has.cpp|// SPDX-License-Identifier: Apache-2.0\nint y;\n|// SPDX-License-Identifier: Apache-2.0\nint y;"
  "seed.json|{}\n|{}"
  "README|plain words\n|plain words"
)
files=()
for c in "${cases[@]}"; do
  IFS='|' read -r name content _ <<<"$c"
  mkdir -p "$dir/$(dirname "$name")"
  printf "$content" >"$dir/$name"
  files+=("$dir/$name")
done
chmod 755 "$dir/tool.sh"

"$script" --check "${files[@]}" >"$dir/listed" 2>/dev/null && fail "--check passed files without the line"
[ "$(wc -l <"$dir/listed")" -eq 5 ] || fail "--check listed $(wc -l <"$dir/listed") files, not 5"
grep -q "int x" "$dir/a.cpp" && head -n 1 "$dir/a.cpp" | grep -q SPDX && fail "--check changed a file"

for run in 1 2; do
  "$script" "${files[@]}" || fail "run $run failed"
  for c in "${cases[@]}"; do
    IFS='|' read -r name _ expected <<<"$c"
    want=$(printf "$expected")
    got=$(head -n "$(printf '%s\n' "$want" | wc -l)" "$dir/$name")
    [ "$got" = "$want" ] || fail "run $run, $name: got [$got], want [$want]"
  done
done
[ -x "$dir/tool.sh" ] || fail "tool.sh lost its mode"
"$script" --check "${files[@]}" || fail "--check after the runs still finds files without the line"
[ $failures -eq 0 ] && echo "spdx-headers: ${#cases[@]} kinds of file as expected"
exit $((failures > 0))
