#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The packaged systemd units load without a complaint from systemd-analyze verify, as an
# instance (kysnap-snap@db), and a unit with a broken line is caught by the same check, so that
# a check that passes means something. Exit 77 (skipped) where systemd-analyze is absent.
# $1: the folder holding the units.
set -euo pipefail
units=$1
if ! command -v systemd-analyze >/dev/null; then
  echo "skipped: systemd-analyze is not installed"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/kysnap-units.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Prints what verify says of the instance NAME@db of the templates in folder $1 (empty: none).
complaints() {
  local folder=$1 name=$2
  (cd "$folder" && ln -sf "$name@.service" "$name@db.service" && ln -sf "$name@.timer" "$name@db.timer" &&
    # The manual page is installed with the package, not on the machine that builds it.
    systemd-analyze verify --man=no "./$name@db.service" "./$name@db.timer" 2>&1 || echo "exit status $?")
}

mkdir "$work/good" "$work/broken"
cp "$units/kysnap-snap@.service" "$units/kysnap-snap@.timer" "$work/good/"
said=$(complaints "$work/good" kysnap-snap)
if [ -n "$said" ]; then
  echo "FAIL: systemd-analyze verify complains about the units:"
  echo "$said"
  exit 1
fi
for part in service timer; do
  grep -q . "$work/good/kysnap-snap@.$part"
done
# The timer starts the service of its instance; the service never enables itself.
if grep -q '^\[Install\]' "$work/good/kysnap-snap@.service"; then
  echo "FAIL: the service has an [Install] section: only its timer is enabled"
  exit 1
fi

# A broken unit: the same check must say so.
sed 's/^Type=oneshot$/Type=oneshots/' "$units/kysnap-snap@.service" >"$work/broken/kysnap-snap@.service"
cp "$units/kysnap-snap@.timer" "$work/broken/"
if [ -z "$(complaints "$work/broken" kysnap-snap)" ]; then
  echo "FAIL: a unit with an unknown service type passed the check"
  exit 1
fi
echo "the units verify cleanly, and a broken one is caught"
