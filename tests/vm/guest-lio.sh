# SPDX-License-Identifier: Apache-2.0
# LIO helpers for the guest (sourced by guest-test.sh, run by busybox sh).
#
# A LUN is a target_core_file backstore on the array's own image of the volume (arraysim
# --data-dir $ARRAY_DATA, on tmpfs), so the host reads and writes the bytes the array
# snapshots, clones and rolls back. Its INQUIRY data is an IntelliFlash
# volume's: vendor TEGILE, product INTELLIFLASH, and a page 0x83 NAA-6 designator equal to
# the array's LUN id (company id 00144f, then the 25 digits after it from vpd_unit_serial).
# Every LUN is presented through two tcm_loop targets of its own (a tcm_loop SCSI host scans
# LUN 0 only), each with its own initiator port and so its own SCSI host: two paths per LUN.
#
# The array's mapping of a LUN to this host is the LUN's entry in each initiator's ACL: taking
# it away makes the LUN vanish from the initiator's view (REPORT LUNS, commands answered
# "not supported") while the host's SCSI devices stay behind as stale paths, as on a real
# array. Removing the target itself would make tcm_loop delete the host's devices too, which
# would hide a host that leaves paths behind; that only happens once the host has dropped
# every path of the LUN.

LIO=/sys/kernel/config/target
LIO_STORE=/run/lio
ARRAY_DATA=$LIO_STORE/array

# lio_tpg SLOT PATH: the portal group of path 1 or 2 of the LUN in SLOT (0 to 9).
lio_tpg() { echo "$LIO/loopback/naa.5001405aa00000$1$2/tpgt_1"; }
lio_initiator() { echo "naa.5001405bb00000$1$2"; }

# lio_backstore NAME LUNID: a 64 MiB file LUN carrying LUNID in page 0x83, on the array's
# image of LUNID. A source LUN is made before arraysim starts (its seed needs the target id
# the host reads): LIO creates the image then, and arraysim keeps it as the volume's bytes.
lio_backstore() {
    local d=$LIO/core/fileio_0/$1 serial
    serial=$(echo "$2" | cut -c8-32 | tr 'A-F' 'a-f')
    mkdir -p "$d" "$ARRAY_DATA/volumes" || return 1
    echo "fd_dev_name=$ARRAY_DATA/volumes/$2.img,fd_dev_size=67108864" >"$d/control" || return 1
    echo 1 >"$d/enable" || return 1
    echo TEGILE >"$d/wwn/vendor_id" || return 1
    echo INTELLIFLASH >"$d/wwn/product_id" || return 1
    echo 0x00144f >"$d/wwn/company_id" || return 1
    echo "$serial" >"$d/wwn/vpd_unit_serial"
}

# lio_present NAME SLOT: the backstore as LUN 0 of both targets of SLOT, in each initiator's
# ACL, then each nexus (the host's SCSI host, which scans at once). The ACL comes before the
# nexus so that the session uses it rather than demo mode.
lio_present() {
    local p tpg acl
    for p in 1 2; do
        tpg=$(lio_tpg "$2" $p)
        acl=$tpg/acls/$(lio_initiator "$2" $p)
        mkdir -p "$tpg/lun/lun_0" "$acl/lun_0" || return 1
        [ -e "$tpg/lun/lun_0/$1" ] || ln -s "$LIO/core/fileio_0/$1" "$tpg/lun/lun_0/$1" || return 1
        [ -e "$acl/lun_0/map" ] || ln -s "$tpg/lun/lun_0" "$acl/lun_0/map" || return 1
        grep -q naa "$tpg/nexus" 2>/dev/null || lio_initiator "$2" $p >"$tpg/nexus" || return 1
    done
    # A nexus kept from an earlier LUN of the slot scanned when the port was linked, before
    # the ACL let the initiator see the LUN; a scan now finds it, as a fabric's login would.
    local host
    for host in /sys/class/scsi_host/host*; do
        echo "- - -" >"$host/scan" 2>/dev/null
    done
}

# lio_withdraw SLOT: the array's mapping goes; the host's devices stay until it removes them.
lio_withdraw() {
    local p acl
    for p in 1 2; do
        acl=$(lio_tpg "$1" $p)/acls/$(lio_initiator "$1" $p)
        [ -d "$acl/lun_0" ] || continue
        rm -f "$acl/lun_0/map"
        rmdir "$acl/lun_0"
    done
}

# lio_remove NAME SLOT: the LUN of SLOT and its backstore. The targets, their ACLs and
# nexus stay for the next LUN in that slot: an ACL whose session lives cannot be removed, and
# tcm_loop keeps its nexus while a port is in use. The image is the array's: it removed the
# clone's image when it deleted the clone.
lio_remove() {
    local p tpg
    lio_withdraw "$2"
    for p in 1 2; do
        tpg=$(lio_tpg "$2" $p)
        [ -d "$tpg/lun/lun_0" ] || continue
        rm -f "$tpg/lun/lun_0/$1"
        rmdir "$tpg/lun/lun_0"
    done
    rmdir "$LIO/core/fileio_0/$1" 2>/dev/null
}

# paths_of LUNID: the guest's SCSI disks that carry LUNID (their wwid is its NAA name).
paths_of() {
    local want b wwid
    want="naa.$(echo "$1" | tr 'A-F' 'a-f')"
    for b in /sys/block/sd*; do
        [ -e "$b/device/wwid" ] || continue
        wwid=$(cat "$b/device/wwid" 2>/dev/null)
        [ "$wwid" = "$want" ] && echo "${b##*/}"
    done
}

# maps_of LUNID: dm-multipath maps made for LUNID.
maps_of() {
    local want d
    want="mpath-3$(echo "$1" | tr 'A-F' 'a-f')"
    for d in /sys/block/dm-*; do
        [ -e "$d/dm/uuid" ] || continue
        [ "$(cat "$d/dm/uuid")" = "$want" ] && cat "$d/dm/name"
    done
}

# multipath_create NAME LUNID: a round-robin multipath map over every path of LUNID, as
# multipathd would make it.
multipath_create() {
    local table="" count=0 p sectors=0
    for p in $(paths_of "$2"); do
        table="$table $(cat /sys/block/$p/dev) 1"
        count=$((count + 1))
        sectors=$(cat /sys/block/$p/size)
    done
    [ "$count" -ge 2 ] || return 1
    dmsetup create "$1" -u "mpath-3$(echo "$2" | tr 'A-F' 'a-f')" \
        --table "0 $sectors multipath 0 0 1 1 round-robin 0 $count 1$table"
}
