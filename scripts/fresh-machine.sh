#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks the README's Quick start on a fresh machine: builds a minimal Debian 12 root
# (debootstrap, variant minbase, from the mirror this machine's apt uses), adds git, clones
# this repository's committed HEAD into it and runs the two Quick start commands there as
# root, timing each step. Run on demand (it downloads about 400 MB and builds everything
# without a compiler cache), as root:
#
#   scripts/fresh-machine.sh [DIRECTORY]
#
# DIRECTORY (default: a new one under /var/tmp) holds the root; it is removed at the end
# unless KEEP=1. The step lines and the closing summary line go to standard output, every
# command's own output to DIRECTORY.log. Exit status: that of the first step that failed.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-machine: must run as root (debootstrap and chroot)" >&2
  exit 1
fi
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
fi

# The Debian archive this machine's apt uses (deb822 .sources files or one-line lists).
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
  if [ -f "$f" ]; then sources+=("$f"); fi
done
mirror=""
if [ ${#sources[@]} -gt 0 ]; then
  mirror=$(awk '
    /^URIs:/ { for (i = 2; i <= NF; ++i) if ($i !~ /security/) { print $i; exit } }
    /^deb / { for (i = 2; i <= NF; ++i) if ($i ~ /^[a-z]+:\/\// && $i !~ /security/) { print $i; exit } }' \
    "${sources[@]}")
fi
mirror=${mirror:-http://deb.debian.org/debian}

root=${1:-$(mktemp -d /var/tmp/kysnap-fresh.XXXXXX)}
log=$root.log
: >"$log"
echo "fresh-machine: root $root, mirror $mirror, log $log"

unmount_all() {
  for m in "$root/dev" "$root/sys" "$root/proc"; do
    if mountpoint -q "$m"; then umount -R "$m" || umount -R -l "$m"; fi
  done
}
finish() {
  status=$?
  unmount_all
  if [ "${KEEP:-0}" != 1 ]; then
    # Never delete through a mount that is still there.
    if findmnt -R -n -o TARGET "$root" >/dev/null 2>&1 || grep -q " $root/" /proc/mounts; then
      echo "fresh-machine: $root still has mounts; left in place" >&2
    else
      rm -rf "$root"
    fi
  fi
  exit "$status"
}
trap finish EXIT

timings=()
# step NAME COMMAND...: runs COMMAND with its output in the log, prints and keeps its time.
step() {
  local name=$1 start end
  shift
  start=$(date +%s)
  if ! "$@" >>"$log" 2>&1; then
    echo "fresh-machine: $name FAILED after $(($(date +%s) - start)) s; the end of $log:" >&2
    tail -n 30 "$log" >&2
    return 1
  fi
  end=$(date +%s)
  printf 'fresh-machine: %-10s %4d min %02d s\n' "$name" $(((end - start) / 60)) $(((end - start) % 60))
  timings+=("$name $(((end - start) / 60))m$(printf %02d $(((end - start) % 60)))s")
}

in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "$1"
}

mount_all() {
  cp /etc/resolv.conf "$root/etc/resolv.conf" || return 1
  mount -t proc proc "$root/proc" || return 1
  mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys" || return 1
  mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev" || return 1
}

step debootstrap debootstrap --variant=minbase bookworm "$root" "$mirror"
step mount mount_all
# The starting point of the Quick start: bash, apt and git, nothing else.
step git in_root 'apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends git'
step clone git clone -q --no-hardlinks "$repo" "$root/root/kysnap"
for tool in make g++ cmake; do
  if in_root "command -v $tool" >/dev/null; then
    echo "fresh-machine: $tool is already in the fresh root; it is not a fresh machine" >&2
    exit 1
  fi
done
step demo in_root 'cd /root/kysnap && scripts/demo.sh'
step test in_root 'cd /root/kysnap && scripts/test.sh'
grep -E '^[0-9]+% tests passed' "$log" | tail -n 1
echo "fresh-machine: passed on Debian $(cat "$root/etc/debian_version") minbase: ${timings[*]}"
