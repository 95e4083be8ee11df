# SPDX-License-Identifier: Apache-2.0
# The test inside the guest (run by the initramfs's /init with busybox sh). It prints one
# line per check, "ok ..." or "FAIL ...", and at the end "vm: N passed, N failed".
. /test/guest-lio.sh
. /test/guest-watcher.sh

PASSED=0
FAILED=0
ok() { echo "ok $*"; PASSED=$((PASSED + 1)); }
fail() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }
# check WHAT COMMAND...: runs the command; its output follows a failure.
check() {
    local what=$1
    shift
    if "$@" >/tmp/check.out 2>&1; then
        ok "$what"
    else
        fail "$what"
        sed 's/^/    /' /tmp/check.out | tail -25
    fi
}
want() { # want WHAT CONDITION...: like check, the output of nothing
    local what=$1
    shift
    if eval "$@"; then ok "$what"; else fail "$what ($*)"; return 1; fi
}

SRC_A=600144F0C8A7B3D1E45F4A2B00010001
SRC_B=600144F0C8A7B3D1E45F4A2B00010002
STATIC_LUNS="$SRC_A $SRC_B"
GUEST_IQN=iqn.2026-12.test.kysnap:vm-guest
export SIM_CA=/run/sim/certs/ca.pem GUEST_IQN STATIC_LUNS
export KYSNAP_TLS_CA_FILE=$SIM_CA KYSNAP_CONFIG=/run/kysnap.conf KYSNAP_STATE=/run/kysnap/catalog.json
export KYSNAP_PLUGIN=/opt/kysnap/libKySnapTegile.so HOME=/root

settle() { # settle SECONDS CONDITION: waits up to SECONDS for CONDITION
    local n=0
    while [ "$n" -lt "$1" ]; do
        eval "$2" && return 0
        sleep 1
        n=$((n + 1))
    done
    return 1
}

# --- the guest's SCSI stack -------------------------------------------------------------
mkdir -p "$LIO_STORE" /etc/iscsi /run/kysnap /run/sim
mount -t tmpfs tmpfs "$LIO_STORE"
echo "InitiatorName=$GUEST_IQN" >/etc/iscsi/initiatorname.iscsi
for m in fs/configfs/configfs drivers/scsi/scsi_common drivers/scsi/scsi_mod \
    drivers/scsi/sd_mod drivers/target/target_core_mod drivers/target/target_core_file \
    drivers/target/loopback/tcm_loop drivers/md/dm-mod drivers/md/dm-multipath \
    drivers/md/dm-round-robin; do
    insmod "/lib/modules/$(uname -r)/kernel/$m.ko" || fail "module ${m##*/} loads"
done
mount -t configfs configfs /sys/kernel/config
check "LIO backstores with IntelliFlash identities" \
    sh -c ". /test/guest-lio.sh; lio_backstore srca $SRC_A && lio_backstore srcb $SRC_B"
check "source LUNs presented through two tcm_loop targets each" \
    sh -c ". /test/guest-lio.sh; lio_present srca 1 && lio_present srcb 2"
rescan() { for h in /sys/class/scsi_host/host*; do echo "- - -" >"$h/scan"; done; }
settle 20 'rescan; [ "$(paths_of $SRC_A | wc -l)" -eq 2 ] && [ "$(paths_of $SRC_B | wc -l)" -eq 2 ]'
want "each source LUN has two paths: $(echo $(paths_of $SRC_A)) / $(echo $(paths_of $SRC_B))" \
    '[ "$(paths_of $SRC_A | wc -l)" -eq 2 ] && [ "$(paths_of $SRC_B | wc -l)" -eq 2 ]'
A1=$(paths_of $SRC_A | head -n 1)
B1=$(paths_of $SRC_B | head -n 1)
want "vendor and product read TEGILE / INTELLIFLASH on /dev/$A1" \
    '[ "$(cat /sys/block/$A1/device/vendor | sed "s/ *$//")" = TEGILE ] && [ "$(cat /sys/block/$A1/device/model | sed "s/ *$//")" = INTELLIFLASH ]'

# The target id where the plug-in reads it: page 0x83, its length at byte 27, text from 28.
target_id() {
    local len
    len=$(dd if="/sys/block/$1/device/vpd_pg83" bs=1 skip=27 count=1 2>/dev/null | od -An -tu1 | tr -d ' ')
    dd if="/sys/block/$1/device/vpd_pg83" bs=1 skip=28 count="$len" 2>/dev/null | tr -d '\000'
}
lun_id() {
    dd if="/sys/block/$1/device/vpd_pg83" bs=1 skip=8 count=16 2>/dev/null | od -An -tx1 | tr -d ' \n' | tr 'a-f' 'A-F'
}
TARGET_A=$(target_id "$A1")
TARGET_B=$(target_id "$B1")
echo "page 0x83 of /dev/$A1: LUN id $(lun_id $A1), target id '$TARGET_A'"
want "page 0x83 NAA-6 designator is the array's LUN id" '[ "$(lun_id $A1)" = $SRC_A ] && [ "$(lun_id $B1)" = $SRC_B ]'
want "page 0x83 carries a target id" '[ -n "$TARGET_A" ]'

# --- the array ----------------------------------------------------------------------------
cat >/run/sim/seed.json <<END
{
  "system": {"model": "IntelliFlash T4700", "softwareVersion": "3.7.2.1", "apiVersion": "2.1",
             "apiMinorVersion": "1", "serial": "C8A7B3D1"},
  "users": [{"name": "admin", "password": "tegile"}],
  "behaviour": {"snapshotPendingPolls": 0, "mappingVisibilityDelay": 0, "listSnapshotsWholeName": false},
  "pools": [{"name": "pool-a", "projects": [{"name": "vm", "volumes": [
      {"name": "src-a", "luId": "$SRC_A", "size": 67108864, "blockSize": "8KB", "thinProvision": true, "protocol": "FC"},
      {"name": "src-b", "luId": "$SRC_B", "size": 67108864, "blockSize": "8KB", "thinProvision": true, "protocol": "FC"}]}]}],
  "targetGroups": [{"name": "default-fc-target-group", "protocol": "FC", "targets": ["$TARGET_A", "$TARGET_B"]},
                   {"name": "default-pool-a-iscsi-target-group", "protocol": "ISCSI", "targets": ["iqn.2012-02.com.tegile:pool-a-target"]}],
  "initiatorGroups": [{"name": "vm-guest", "protocol": "ISCSI", "initiators": ["$GUEST_IQN"]}],
  "initiators": [],
  "mappings": [{"datasetPath": "pool-a/Local/vm/src-a", "initiatorGroup": "vm-guest", "targetGroup": "default-fc-target-group", "lun": 0},
               {"datasetPath": "pool-a/Local/vm/src-b", "initiatorGroup": "vm-guest", "targetGroup": "default-fc-target-group", "lun": 1}],
  "faults": []
}
END
ip link set lo up 2>/dev/null || ifconfig lo 127.0.0.1 up
arraysim --seed /run/sim/seed.json --port 0 --port-file /run/sim/port --cert-dir /run/sim/certs \
    --data-dir "$ARRAY_DATA" >/run/sim/log 2>&1 &
SIM_PID=$!
settle 30 '[ -s /run/sim/port ] && [ -s $SIM_CA ]'
export SIM_PORT=$(cat /run/sim/port)
if ! want "arraysim serves on 127.0.0.1:$SIM_PORT" '[ -n "$SIM_PORT" ]'; then
    cat /run/sim/log
    echo "vm: $PASSED passed, $FAILED failed"
    exit 1
fi
umask 077
echo tegile >/root/sim.password
umask 022
cat >$KYSNAP_CONFIG <<END
[host]
backend = linux
retry-count = 30
retry-interval = 1
[array vm]
address = 127.0.0.1:$SIM_PORT
user = admin
password-file = /root/sim.password
END
sim_state() { curl -s --max-time 10 --cacert "$SIM_CA" "https://127.0.0.1:$SIM_PORT/control/state"; }
sim_control() {
    curl -s --max-time 10 --cacert "$SIM_CA" -X POST -H 'Content-Type: application/json' \
        -d "$2" "https://127.0.0.1:$SIM_PORT/control/$1" >/dev/null
}
STATE0=$(sim_state | tr -d ' \t\n')

( watch_loop ) &
WATCH_PID=$!

# --- the lifecycle, on plain paths and then under dm-multipath --------------------------
snapshot_id() { sed -n 's/.*\(KY-[0-9TZ:-]*-[0-9]*\).*/\1/p' /tmp/check.out | head -n 1; }
# readable LUNID: each path of the LUN gives its first block.
readable() {
    local p
    for p in $(paths_of "$1"); do
        dd if=/dev/$p of=/dev/null bs=4096 count=1 2>/dev/null || return 1
    done
}

lifecycle() { # lifecycle PASS DEVICE SOURCE_LUNID
    local pass=$1 dev=$2 src=$3 id clone cdev cpaths
    check "$pass: kysnap check" kysnap check
    check "$pass: kysnap support $dev" kysnap support "$dev"
    check "$pass: kysnap inquiry $dev" sh -c "kysnap inquiry $dev && kysnap inquiry $dev | grep -q $src"
    check "$pass: kysnap vpd $dev" kysnap vpd "$dev"
    check "$pass: kysnap prepare $dev" kysnap prepare "$dev"
    check "$pass: kysnap snap $dev" kysnap snap "$dev"
    id=$(snapshot_id)
    want "$pass: snap reported a snapshot id ($id)" '[ -n "$id" ]' || return
    check "$pass: kysnap map $id" kysnap map "$id"
    cdev=$(grep -o '/dev/[a-z0-9/_-]*' /tmp/check.out | grep -v "^$dev\$" | tail -n 1)
    # The array holds one clone at a time here: the volume that is neither source.
    clone=$(sim_state | grep -o '"luId": *"[0-9A-F]*"' | grep -o '[0-9A-F]\{32\}' |
        grep -v -e "$SRC_A" -e "$SRC_B")
    echo "$pass: map reported $cdev; the array's clone is $clone"
    want "$pass: the mapped device is the clone, by page 0x83" \
        '[ -n "$cdev" ] && [ -n "$clone" ] && kysnap inquiry "$cdev" | grep -q "$clone"'
    if [ -n "$WATCH_MULTIPATH" ]; then
        settle 20 '[ -n "$(maps_of $clone)" ]'
    fi
    cpaths=$(echo $(paths_of "$clone"))
    local seen=yes
    want "$pass: the clone has two paths on the host ($cpaths)" '[ "$(paths_of $clone | wc -l)" -eq 2 ]' || seen=
    [ -n "$WATCH_MULTIPATH" ] && want "$pass: the clone is under a multipath map ($(maps_of $clone))" '[ -n "$(maps_of $clone)" ]'
    check "$pass: kysnap list" sh -c "kysnap list && kysnap list | grep -q $id"
    # The array deletes a snapshot's clones with it: kysnap refuses before it asks, and the
    # clone stays on the host.
    want "$pass: kysnap delete $id of the mounted snapshot is refused (exit 1)" \
        '{ kysnap delete "$id" >/tmp/check.out 2>&1; [ $? -eq 1 ]; } && grep -q "nothing was deleted" /tmp/check.out'
    [ -n "$seen" ] && want "$pass: after the refused delete both paths of the clone are there and read ($(echo $(paths_of $clone)))" \
        '[ "$(paths_of $clone | wc -l)" -eq 2 ] && readable "$clone"'
    [ -n "$WATCH_MULTIPATH" ] && want "$pass: after the refused delete the clone's multipath map reads" \
        '[ -n "$(maps_of $clone)" ] && dd if=/dev/mapper/$(maps_of $clone | head -n 1) of=/dev/null bs=4096 count=1 2>/dev/null'
    # The array answers the clone's deletion only after the watcher has seen the mapping go,
    # as a real array's LUN is gone from its target when the call returns.
    sim_control faults '{"method": "deleteVolume", "action": "latency", "ms": 3000, "process": true}'
    check "$pass: kysnap unmap $id" kysnap unmap "$id"
    sleep 1
    # Only a clone that was on the host can show what unmap left of it.
    if [ -n "$seen" ]; then
        want "$pass: unmap left no path of the clone in /sys/block (left: $(echo $(paths_of $clone)))" '[ -z "$(paths_of $clone)" ]'
        [ -n "$WATCH_MULTIPATH" ] &&
            want "$pass: unmap left no multipath map of the clone (left: $(echo $(maps_of $clone)))" '[ -z "$(maps_of $clone)" ]'
    fi
    # Whatever unmap left is cleared here, so that the next pass starts clean.
    for p in $(paths_of "$clone"); do echo 1 >/sys/block/$p/device/delete; done
    for m in $(maps_of "$clone"); do dmsetup remove "$m"; done
    settle 15 '[ -z "$(ls /run/watch 2>/dev/null)" ]'
    want "$pass: the clone's LUN is gone from LIO" '[ -z "$(ls /run/watch 2>/dev/null)" ]'
    check "$pass: kysnap reconcile $id" kysnap reconcile "$id"
    check "$pass: kysnap delete $id" kysnap delete "$id"
}

lifecycle "two paths" "/dev/$A1" "$SRC_A"

B2=$(paths_of $SRC_B | tail -n 1)
check "dm-multipath map over both paths of src-b" sh -c ". /test/guest-lio.sh; multipath_create mpatha $SRC_B && dmsetup mknodes"
export WATCH_MULTIPATH=1
want "the multipath map holds both paths of src-b" \
    '[ -b /dev/mapper/mpatha ] && [ "$(ls /sys/block/$B2/holders)" = "$(ls /sys/block/$B1/holders)" ]'
kill "$WATCH_PID" 2>/dev/null
( watch_loop ) &
WATCH_PID=$!
lifecycle "multipath" "/dev/mapper/mpatha" "$SRC_B"

# --- a frozen filesystem on the multipath map ---------------------------------------------
. /test/guest-freeze.sh

# --- the bytes of each moment, through snapshot, clone, map and revert ------------------
. /test/guest-data.sh

# --- the array ends clean ---------------------------------------------------------------
STATE1=$(sim_state | tr -d ' \t\n')
want "the array ends clean: no snapshot, clone or mapping was left" \
    '[ "$(echo "$STATE1" | grep -o "\"luId\"" | wc -l)" = "$(echo "$STATE0" | grep -o "\"luId\"" | wc -l)" ] &&
     ! echo "$STATE1" | sed "s/\"lastRollback\":\"[^\"]*\"//g" | grep -q "Manual-V-" &&
     [ "$(echo "$STATE1" | grep -o "\"datasetPath\"" | wc -l)" = "$(echo "$STATE0" | grep -o "\"datasetPath\"" | wc -l)" ]'
touch /run/watch.stop
kill "$SIM_PID" 2>/dev/null
if [ "$FAILED" -ne 0 ]; then
    echo "--- watcher log"; cat /run/watch.log 2>/dev/null
    echo "--- processes"
    for p in /proc/[0-9]*; do
        [ -r "$p/cmdline" ] && [ -n "$(tr '\000' ' ' <"$p/cmdline")" ] || continue
        echo "${p#/proc/} $(cut -d' ' -f3 "$p/stat") $(cat "$p/wchan" 2>/dev/null) $(tr '\000' ' ' <"$p/cmdline")"
    done
    echo "--- arraysim log"; tail -n 20 /run/sim/log
fi
echo "vm: $PASSED passed, $FAILED failed"
