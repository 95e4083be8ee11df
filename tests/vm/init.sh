#!/bin/busybox sh
# SPDX-License-Identifier: Apache-2.0
# The guest's first process: mounts what the test needs, runs it, powers off.
/bin/busybox --install -s /bin
export PATH=/bin:/opt/kysnap LD_LIBRARY_PATH=/opt/kysnap/lib
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
hostname vm-guest
echo "vm: guest up, kernel $(uname -r)"
sh /test/guest-test.sh 2>&1
echo "vm: guest done"
poweroff -f
