#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Checks a manual page against what its program's --help prints, so that the two cannot
# disagree: every option --help lists must be in the page, and where --help gives a default
# as a number in parentheses at the end of the line ("(64)"), the page's paragraph for that option must
# give the same value.
#
#   check-man-page.sh PROGRAM PAGE
#
# Prints one line per disagreement and exits 1 when there is one, or when --help lists no
# option at all (the program did not run, or its help has another shape).
set -eu
if [ $# -ne 2 ]; then
  echo "usage: check-man-page.sh PROGRAM PAGE" >&2
  exit 2
fi
program=$1
page=$2

# Whatever --help prints, on either stream; the exit status is not this check's business.
help=$("$program" --help 2>&1 || true)
if [ -z "$help" ]; then
  echo "$program --help printed nothing" >&2
  exit 1
fi

# The page as plain text, one paragraph per line: each tagged paragraph (.TP) becomes
# "TAG<tab>BODY", so that an option's tag and its text can be looked at together.
text=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\&//g' -e 's/"//g' "$page" | awk '
  /^\.TP/ { if (para != "") print para; para = ""; tagged = 1; next }
  /^\.(SH|SS|PP|P|LP)( |$)/ { if (para != "") print para; para = ""; tagged = 0; next }
  {
    line = $0
    if (line ~ /^\.[A-Za-z]+ /) sub(/^\.[A-Za-z]+ /, "", line)
    else if (line ~ /^\./) next
    if (tagged == 1) { para = line "\t"; tagged = 2 } else { para = para " " line }
  }
  END { if (para != "") print para }')

echo "$help" | awk -v text="$text" -v program="$(basename "$program")" -v page="$page" '
  BEGIN {
    n = split(text, paragraphs, "\n")
    failed = 0
  }
  # An option line: indented, starting with a dash; options come before the first wide gap.
  /^[ \t]+-/ {
    line = $0
    sub(/^[ \t]+/, "", line)
    options = line
    description = ""
    if (match(line, /[ \t][ \t]+/)) {
      options = substr(line, 1, RSTART - 1)
      description = substr(line, RSTART + RLENGTH)
    }
    value = ""
    if (match(description, /\([0-9][^ ()]*\)[ \t]*$/)) {
      value = substr(description, RSTART + 1, RLENGTH - 1)
      sub(/\)[ \t]*$/, "", value)
    }
    count = split(options, words, /[ ,=\[\]]+/)
    for (i = 1; i <= count; ++i) {
      option = words[i]
      if (option !~ /^--[a-z][a-z0-9-]*$/) continue
      ++checked
      pattern = option "([^a-z0-9-]|$)"
      found = 0
      agreed = (value == "")
      for (p = 1; p <= n; ++p) {
        if (paragraphs[p] !~ pattern) continue
        found = 1
        tab = index(paragraphs[p], "\t")
        if (value != "" && tab > 0 && substr(paragraphs[p], 1, tab) ~ pattern) {
          body = " " substr(paragraphs[p], tab + 1) " "
          if (index(body, " " value " ") || index(body, " " value ")") ||
              index(body, "(" value ")") || index(body, " " value ".") ||
              index(body, " " value ",") || index(body, " " value ";"))
            agreed = 1
        }
      }
      if (!found) {
        printf "%s: %s --help lists %s; %s does not\n", page, program, option, page
        failed = 1
      } else if (!agreed) {
        printf "%s: %s --help gives %s the default %s; %s says otherwise\n", page, program,
               option, value, page
        failed = 1
      }
    }
  }
  END {
    if (checked == 0) {
      printf "%s --help listed no options\n", program
      failed = 1
    }
    exit failed
  }'
