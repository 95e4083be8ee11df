#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The kysnap linux backend on a real Linux kernel: boots Debian's cloud kernel under QEMU (TCG,
# no network device) from an initramfs built here, in which LIO presents IntelliFlash-like
# LUNs through two tcm_loop paths each, arraysim serves on the guest's loopback and kysnap runs
# the whole lifecycle (tests/vm/guest-test.sh). Prints the guest's check lines; exits 0 when
# every check passed, 1 when one failed or the guest did not finish, 77 (skipped) when QEMU,
# busybox or the kernel package cannot be had.
#
# Usage: run-vm-test.sh BUILD_DIR [PLUGIN]  (the kernel package is cached in BUILD_DIR/vm)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run-vm-test.sh BUILD_DIR}" && pwd)
work=$build/vm
skip() { echo "SKIPPED: $*"; exit 77; }

for tool in qemu-system-x86_64 cpio gzip ldd dmsetup curl dpkg-deb; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/bootstrap.sh installs it)"
done
busybox=$(command -v busybox) || skip "busybox is not installed (package busybox-static)"
ldd "$busybox" >/dev/null 2>&1 && skip "$busybox is not statically linked (package busybox-static)"
for built in tools/kysnap/kysnap tools/arraysim/arraysim; do
    [ -x "$build/$built" ] || { echo "FAIL $build/$built is not built"; exit 1; }
done
plugin=${2:-$(find "$build" -name libKySnapTegile.so -type f | head -n 1)}
[ -f "$plugin" ] || { echo "FAIL libKySnapTegile.so is not built"; exit 1; }

# The kernel: the real image package that linux-image-cloud-amd64 depends on, fetched once.
mkdir -p "$work/kernel"
kernel=$(ls "$work"/kernel/root/boot/vmlinuz-* 2>/dev/null | head -n 1)
if [ -z "$kernel" ]; then
    image=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9].*\)/\1/p' | head -n 1)
    [ -n "$image" ] || skip "apt knows no linux-image-cloud-amd64 (run apt-get update)"
    (cd "$work/kernel" && apt-get download "$image" >download.log 2>&1) ||
        skip "apt-get download $image failed: $(tail -n 1 "$work/kernel/download.log")"
    dpkg-deb -x "$work"/kernel/"$image"_*.deb "$work/kernel/root" || skip "cannot unpack $image"
    kernel=$(ls "$work"/kernel/root/boot/vmlinuz-* | head -n 1)
fi
release=${kernel##*/vmlinuz-}
modules=$work/kernel/root/lib/modules/$release/kernel

# The initramfs: busybox, the built programs and every shared library they load, the modules.
root=$work/initramfs
rm -rf "$root" && mkdir -p "$root"/{bin,opt/kysnap,test,etc,root,proc,sys,dev,run,tmp,lib64}
cp "$busybox" "$root/bin/busybox"
cp "$build/tools/kysnap/kysnap" "$build/tools/arraysim/arraysim" "$plugin" "$root/opt/kysnap/"
cp "$(command -v dmsetup)" "$(command -v curl)" "$root/bin/"
for binary in "$build/tools/kysnap/kysnap" "$build/tools/arraysim/arraysim" "$plugin" \
    "$root/bin/dmsetup" "$root/bin/curl"; do
    # The system's libraries keep their paths; the project's own (found through the build's
    # run path, relative to where each binary lies in the build tree, so asked of the
    # originals) go to /opt/kysnap/lib.
    ldd "$binary" | grep -o '/[^ ]*' | while read -r lib; do
        case $lib in
            /lib/* | /lib64/* | /usr/lib/* | /usr/lib64/*) target=$root$lib ;;
            *) target=$root/opt/kysnap/lib/${lib##*/} ;;
        esac
        mkdir -p "$(dirname "$target")" && cp -nL "$lib" "$target"
    done
done
for m in fs/configfs/configfs drivers/scsi/scsi_common drivers/scsi/scsi_mod drivers/scsi/sd_mod \
    drivers/target/target_core_mod drivers/target/target_core_file \
    drivers/target/loopback/tcm_loop drivers/md/dm-mod drivers/md/dm-multipath \
    drivers/md/dm-round-robin; do
    [ -f "$modules/$m.ko" ] || skip "the kernel package has no $m.ko"
    mkdir -p "$root/lib/modules/$release/kernel/$(dirname "$m")"
    cp "$modules/$m.ko" "$root/lib/modules/$release/kernel/$m.ko"
done
# --- ext4 for the freeze and data checks (guest-freeze.sh, guest-data.sh) -----------------
# mkfs.ext4 and fsck.ext4 from this machine's e2fsprogs with their libraries and mke2fs's
# configuration (sha256sum and cmp are busybox's); e2fsck reads /etc/mtab to see what is
# mounted. Where the kernel has ext4 as a module rather than built in (modules.builtin; the
# cloud kernel builds it in), ext4.ko with the modules it depends on (jbd2, mbcache, crc16,
# ...: each module's own "depends=" field, as modinfo reads it) and crc32c for the checksums,
# written in load order to /test/ext4-modules for the guest to insmod.
for tool in mkfs.ext4 fsck.ext4; do
    found=$(PATH=$PATH:/usr/sbin:/sbin command -v "$tool") ||
        skip "$tool is not installed (package e2fsprogs)"
    cp "$found" "$root/bin/$tool"
    ldd "$found" | grep -o '/[^ ]*' | while read -r lib; do
        mkdir -p "$root$(dirname "$lib")" && cp -nL "$lib" "$root$lib"
    done
done
[ -f /etc/mke2fs.conf ] && cp /etc/mke2fs.conf "$root/etc/"
ln -s /proc/mounts "$root/etc/mtab"
: >"$root/test/ext4-modules"
ext4_module() { # ext4_module NAME: NAME's dependencies first, then NAME, each once
    local ko dep
    grep -q "/$1.ko\$" "$modules/../modules.builtin" 2>/dev/null && return
    ko=$(find "$modules" -name "$1.ko" | head -n 1)
    [ -n "$ko" ] || return
    ko=${ko#"$modules"/}
    grep -qx "${ko%.ko}" "$root/test/ext4-modules" && return
    for dep in $(tr '\0' '\n' <"$modules/$ko" | sed -n 's/^depends=//p' | tr ',' ' '); do
        ext4_module "$dep"
    done
    mkdir -p "$root/lib/modules/$release/kernel/$(dirname "$ko")"
    cp "$modules/$ko" "$root/lib/modules/$release/kernel/$ko"
    echo "${ko%.ko}" >>"$root/test/ext4-modules"
}
ext4_module crc32c_generic
ext4_module ext4
# --- end of ext4 ----------------------------------------------------------------------------
cp "$here"/guest-*.sh "$root/test/"
cp "$here/init.sh" "$root/init" && chmod +x "$root/init"
echo "root:x:0:0:root:/root:/bin/sh" >"$root/etc/passwd"
echo "root:x:0:" >"$root/etc/group"
printf '127.0.0.1 localhost\n' >"$root/etc/hosts"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

echo "vm: booting $release under QEMU (TCG)"
start=$(date +%s)
timeout 540 qemu-system-x86_64 -accel tcg -cpu max -smp 2 -m 1024 -nographic -no-reboot \
    -nic none -kernel "$kernel" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet" </dev/null >"$work/console.log" 2>&1
qemu_status=$?
tr -d '\r' <"$work/console.log" | grep -v '^\[ *[0-9.]*\]' | sed -n 's/.*\(vm: guest up\)/\1/; /vm: guest up/,$p'
echo "vm: the guest ran $(($(date +%s) - start)) s"
summary=$(tr -d '\r' <"$work/console.log" | grep -E '^vm: [0-9]+ passed, [0-9]+ failed$' | tail -n 1)
if [ -z "$summary" ]; then
    echo "FAIL the guest did not finish (QEMU exit $qemu_status); console: $work/console.log"
    tail -n 30 "$work/console.log"
    exit 1
fi
[[ $summary == *" 0 failed" ]]
