# SPDX-License-Identifier: Apache-2.0
# The data through the real SCSI stack (sourced by guest-test.sh after the multipath pass):
# ext4 on src-b's multipath map, files with recorded SHA-256 sums, a snapshot, the files
# changed, and then the clone must show the recorded files and the source the changed ones;
# after a revert the source shows the recorded ones again. The LUNs are target_core_file
# backstores on arraysim's own images, so every byte read here is one the array kept.
#
# An earlier snapshot of the empty file system is taken first, so that a revert to the wrong
# snapshot has one to land on, and the clone of the wrong volume (src-a holds no file system)
# cannot pass either.

DATA_START=$(date +%s)
DATA_DEV=/dev/mapper/mpatha
DATA_MNT=/mnt/data
CLONE_MNT=/mnt/clone
mkdir -p "$DATA_MNT" "$CLONE_MNT"

# data_write DIR TAG: three files of different sizes, one a directory down.
data_write() {
    mkdir -p "$1/sub" &&
        dd if=/dev/urandom of="$1/big" bs=64k count=16 2>/dev/null &&
        dd if=/dev/urandom of="$1/small" bs=1k count=3 2>/dev/null &&
        echo "written at $2" >"$1/sub/note"
}
data_sums() { (cd "$1" && sha256sum big small sub/note); }
data_first() { data_write "$DATA_MNT" first && sync && data_sums "$DATA_MNT" >/tmp/data.sums; }
data_change() {
    data_write "$DATA_MNT" second && sync && data_sums "$DATA_MNT" >/tmp/data.changed &&
        ! cmp -s /tmp/data.sums /tmp/data.changed
}
# The source is frozen for the create, so the snapshot holds a clean file system.
data_snap() { kysnap snap --freeze "$DATA_MNT" "$DATA_DEV"; }
data_source_changed() { [ "$(data_sums "$DATA_MNT")" = "$(cat /tmp/data.changed)" ]; }
data_sums_hold() { (cd "$1" && sha256sum -c /tmp/data.sums); }

check "data: mkfs.ext4 on the source's multipath map $DATA_DEV" mkfs.ext4 -q -F "$DATA_DEV"
check "data: the source's file system mounts" mount -t ext4 "$DATA_DEV" "$DATA_MNT"
check "data: kysnap snap --freeze $DATA_MNT $DATA_DEV of the empty file system" data_snap
DATA_EARLIER=$(snapshot_id)
check "data: files written, their SHA-256 sums recorded" data_first
check "data: kysnap snap --freeze $DATA_MNT $DATA_DEV of the mounted file system" data_snap
DATA_ID=$(snapshot_id)
want "data: the record of $DATA_ID says filesystem-frozen" \
    'kysnap list | grep "  $DATA_ID " | grep -q ", filesystem-frozen"'
check "data: the files change after the snapshot" data_change
want "data: two snapshots were taken ($DATA_EARLIER, $DATA_ID)" \
    '[ -n "$DATA_EARLIER" ] && [ -n "$DATA_ID" ] && [ "$DATA_EARLIER" != "$DATA_ID" ]'

check "data: kysnap map $DATA_ID" kysnap map "$DATA_ID"
data_clone=$(sim_state | grep -o '"luId": *"[0-9A-F]*"' | grep -o '[0-9A-F]\{32\}' |
    grep -v -e "$SRC_A" -e "$SRC_B")
settle 20 '[ -n "$data_clone" ] && [ -n "$(maps_of $data_clone)" ]'
data_map=$(maps_of "$data_clone" | head -n 1)
want "data: the clone $data_clone is under a multipath map ($data_map)" '[ -n "$data_map" ]'
check "data: the clone mounts read-only" mount -t ext4 -o ro "/dev/mapper/$data_map" "$CLONE_MNT"
check "data: the clone shows the recorded sums" data_sums_hold "$CLONE_MNT"
check "data: the source still shows the changed files" data_source_changed
check "data: the clone unmounts" umount "$CLONE_MNT"
check "data: fsck -n finds the clone clean" fsck.ext4 -n -f "/dev/mapper/$data_map"

sim_control faults '{"method": "deleteVolume", "action": "latency", "ms": 3000, "process": true}'
check "data: kysnap unmap $DATA_ID" kysnap unmap "$DATA_ID"
sleep 1
for p in $(paths_of "$data_clone"); do echo 1 >/sys/block/$p/device/delete; done
for m in $(maps_of "$data_clone"); do dmsetup remove "$m"; done
settle 15 '[ -z "$(ls /run/watch 2>/dev/null)" ]'

check "data: the source unmounts for the revert" umount "$DATA_MNT"
check "data: kysnap revert --destroy-newer $DATA_ID" kysnap revert --destroy-newer --yes "$DATA_ID"
check "data: the source mounts again" mount -t ext4 "$DATA_DEV" "$DATA_MNT"
check "data: the source shows the recorded sums" data_sums_hold "$DATA_MNT"
umount "$DATA_MNT"
check "data: kysnap delete $DATA_ID $DATA_EARLIER" kysnap delete "$DATA_ID" "$DATA_EARLIER"
echo "data: the data checks took $(($(date +%s) - DATA_START)) s"
